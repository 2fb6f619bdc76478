#include "cli/Batch.h"
#include "cli/CliJson.h"
#include "cli/Commands.h"
#include "cli/ExitCode.h"
#include "cli/Recorders.h"
#include "cli/UsersFile.h"
#include "core/PrintableText.h"

#include <fmt/format.h>

#include <algorithm>
#include <ostream>

namespace {

struct BatchOptions
{
    BatchSettings settings;
    std::string usersFile;
};

// Every user is checked before the first key, so that a name the records
// cannot hold does not stop the run half-way through the stack.
OpResult<void> read_users(BatchOptions& options)
{
    if (options.usersFile.empty())
        return check_token_texts(options.settings.token, {}, options.settings.token.user);
    auto users = read_users_file(options.usersFile);
    if (!users)
        return std::unexpected(users.error());
    for (std::size_t i = 0; i < users->size(); ++i)
        if (auto checked = check_token_texts(options.settings.token, {}, (*users)[i]); !checked)
            return fail(Fault::Refused,
                        fmt::format("{}, user {} (\"{}\"): {}", options.usersFile, i + 1,
                                    printable((*users)[i]), checked.error().detail));
    BatchSettings& settings = options.settings;
    const int count = static_cast<int>(users->size());
    settings.keys = settings.keys == 0 ? count : std::min(settings.keys, count);
    settings.users = std::move(*users);
    return {};
}

std::string counted(int count, const char* one, const char* many)
{
    return std::to_string(count) + ' ' + (count == 1 ? one : many);
}

void run_batch_command(CliContext& context, BatchOptions& options)
{
    BatchSettings& settings = options.settings;
    if (auto problem = token_options_problem(settings.token)) {
        context.fail(ExitCode::Usage, *problem);
        return;
    }
    if (settings.keys == 0 && options.usersFile.empty()) {
        context.fail(ExitCode::Usage, "batch needs --keys N or --users FILE");
        return;
    }
    if (auto users = read_users(options); !users) {
        context.fail(users.error());
        return;
    }
    // The users file holds one token per user: with --users one key per user.
    if (!settings.token.oathUsersFile.empty() &&
        (settings.tokensPerKey > 1 || (settings.users.empty() && settings.keys > 1))) {
        context.fail(ExitCode::Usage,
                     "--oath-users holds one token per user, and every token of a batch is for "
                     "the one --user: give each key its user with --users and one token, or "
                     "leave out --oath-users");
        return;
    }
    auto recorders = Recorders::open(settings.token);
    if (!recorders) {
        context.fail(recorders.error());
        return;
    }
    const BatchSummary summary = run_batch(context, settings, (*recorders)->all());

    if (settings.token.json) {
        auto document = json_document("batch");
        document.update({{"keys", summary.keys},
                         {"keysProgrammed", summary.keysProgrammed},
                         {"keysFailed", summary.keysFailed},
                         {"tokensProgrammed", summary.tokensProgrammed},
                         {"tokensFailed", summary.tokensFailed},
                         {"usersLeft", summary.usersLeft ? nlohmann::json(*summary.usersLeft)
                                                         : nlohmann::json(nullptr)},
                         {"interrupted", summary.interrupted}});
        print_json(context.out, document);
    } else {
        context.out << summary.keysProgrammed << " keys programmed, " << summary.keysFailed
                    << " keys failed; " << summary.tokensProgrammed << " tokens programmed, "
                    << summary.tokensFailed << " tokens failed"
                    << (summary.usersLeft
                            ? "; " + counted(*summary.usersLeft, "user", "users") + " left"
                            : "")
                    << (summary.interrupted ? "; interrupted" : "") << '\n';
    }
    context.exitCode = summary.exitCode;
}

} // namespace

void add_batch_command(CLI::App& app, CliContext& context)
{
    auto* command = app.add_subcommand(
        "batch", "Programs a stack of keys one after another, each with new tokens");
    auto options = std::make_shared<BatchOptions>();
    BatchSettings& settings = options->settings;
    command->add_option("-k,--keys", settings.keys, "Number of keys (with --users: at most)")
        ->check(CLI::PositiveNumber);
    command->add_option("-n,--tokens-per-key", settings.tokensPerKey, "Tokens on each key")
        ->check(CLI::Range(1, kMaxTokens))
        ->capture_default_str();
    add_token_options(*command, settings.token);
    command
        ->add_option("--users", options->usersFile,
                     "One user per key, in order: a UTF-8 file with one user name a line (blank "
                     "lines and # comments skipped); the run ends when the users run out")
        ->excludes(command->get_option("--user"));
    command->callback([&context, options] { run_batch_command(context, *options); });
}
