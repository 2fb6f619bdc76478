#include "cli/Batch.h"
#include "cli/CliJson.h"
#include "cli/Commands.h"
#include "cli/ExitCode.h"
#include "cli/PinSetup.h"
#include "cli/UsersFile.h"
#include "core/PrintableText.h"
#include "pin/PinComplexity.h"
#include "records/Destinations.h"
#include "records/OathUsersFile.h"

#include <fmt/format.h>

#include <algorithm>
#include <ostream>

using namespace otp::core;
using namespace otp::device;
using namespace otp::pskc;
using namespace otp::records;
using namespace otp::pin;
using namespace otp::tokens;
using namespace otp::programming;

namespace otp::cli {

namespace {

struct BatchOptions
{
    BatchSettings settings;
    std::string usersFile;
    std::string pinPolicy;
    std::string newPinFile;
};

// What the pam_oath users file would refuse of these users, with the option
// that changes it. The users file holds one line per user, so the whole list
// is checked as one edit of it.
OpResult<void> check_users_file(const TokenOptions& token, const std::vector<ListedUser>& users)
{
    std::vector<OathUsersLine> lines;
    for (const ListedUser& user : users) {
        TokenDescription described;
        described.user = user.name;
        described.hash = hash_of(token);
        described.algorithm = algorithm_of(token);
        described.digits = token.digits;
        described.interval = token.interval;
        if (auto checked = check_oath_token(described, token.oathUsersFile); !checked)
            return checked;
        lines.push_back(oath_users_line(described));
    }
    return check_oath_users_file(std::filesystem::path(token.oathUsersFile), lines,
                                 token.oathUsersReplace);
}

// Every user against every destination before the first key, so that a
// name the records cannot hold does not stop the run half-way through the
// stack.
OpResult<void> read_users(BatchOptions& options)
{
    BatchSettings& settings = options.settings;
    if (options.usersFile.empty()) {
        if (auto checked = check_token_texts(settings.token, {}, settings.token.user); !checked)
            return checked;
        if (settings.token.oathUsersFile.empty())
            return {};
        return check_users_file(settings.token, {{settings.token.user, 0}});
    }
    auto users = read_users_file(options.usersFile);
    if (!users)
        return std::unexpected(users.error());
    for (const ListedUser& user : *users)
        if (auto checked = check_token_texts(settings.token, {}, user.name); !checked)
            return fail(Fault::Refused,
                        fmt::format("{}, line {} (\"{}\"): {}", options.usersFile, user.line,
                                    printable(user.name), checked.error().detail));
    if (!settings.token.oathUsersFile.empty())
        if (auto checked = check_users_file(settings.token, *users); !checked)
            return fail(checked.error().fault,
                        fmt::format("{}: {}", options.usersFile, checked.error().detail));
    const int count = static_cast<int>(users->size());
    settings.keys = settings.keys == 0 ? count : std::min(settings.keys, count);
    settings.users = std::move(*users);
    return {};
}

// The policy and the PIN each key gets, checked against each other before
// the first key as the Update PIN dialog checks them.
OpResult<void> read_pin_setup(BatchOptions& options, std::ostream& err)
{
    BatchSettings& settings = options.settings;
    if (!options.pinPolicy.empty()) {
        PolicyValues values;
        values.enabled = true;
        if (auto applied = apply_policy_list(options.pinPolicy, values); !applied)
            return applied;
        settings.pinPolicy = values;
    }
    if (options.newPinFile.empty())
        return {};
    auto pin = read_new_pin(options.newPinFile, err);
    if (!pin)
        return std::unexpected(pin.error());
    if (settings.pinPolicy)
        if (auto check =
                check_pin_complexity(pin->text(), policy_record_with({}, *settings.pinPolicy));
            !check)
            return fail(Fault::Refused, "--new-pin-file: " + check.error().detail);
    settings.newPin = std::move(*pin);
    return {};
}

std::string counted(int count, const char* one, const char* many)
{
    return std::to_string(count) + ' ' + (count == 1 ? one : many);
}

// A word as the shell reads it back.
std::string quoted(const std::string& word)
{
    if (!word.empty() && std::ranges::all_of(word, [](unsigned char c) {
            return std::isalnum(c) || std::string_view("@%+=:,./_-").find(c) != std::string::npos;
        }))
        return word;
    std::string text = "'";
    for (const char c : word)
        text += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return text + "'";
}

// The command that programs what this run left: the users whose key failed
// or never came (their list first written beside the users file), or as
// many keys.
std::string finishing_command(const CliContext& context, const BatchOptions& options,
                              const BatchSummary& summary)
{
    std::vector<std::string> args;
    for (std::size_t i = 0; i < context.arguments.size(); ++i) {
        const std::string& word = context.arguments[i];
        if (word == "--users" || word == "-k" || word == "--keys") {
            ++i;
            continue;
        }
        if (word.starts_with("--users=") || word.starts_with("--keys=") ||
            (word.starts_with("-k") && word.size() > 2))
            continue;
        args.push_back(quoted(word));
    }
    std::string command;
    std::string tail;
    if (options.settings.users.empty()) {
        const int left = options.settings.keys - summary.keysProgrammed;
        tail = " --keys " + std::to_string(left);
    } else {
        const std::string rest = options.usersFile + ".left";
        command = "printf '%s\\n'";
        for (const FailedKey& failure : summary.failures)
            command += " " + quoted(failure.user);
        const auto& users = options.settings.users;
        for (std::size_t i = static_cast<std::size_t>(summary.keysOffered); i < users.size(); ++i)
            command += " " + quoted(users[i].name);
        command += " > " + quoted(rest) + " && ";
        tail = " --users " + quoted(rest);
    }
    command += "vnotp-cli";
    for (const std::string& arg : args)
        command += " " + arg;
    return command + tail;
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
    if (options.newPinFile == "-" && context.pinStdin) {
        context.fail(ExitCode::Usage,
                     "--new-pin-file - and --pin-stdin cannot both read standard input");
        return;
    }
    // The users file holds one token per user: with --users one key per user.
    if (!settings.token.oathUsersFile.empty() &&
        (settings.tokensPerKey > 1 || (options.usersFile.empty() && settings.keys > 1))) {
        context.fail(ExitCode::Usage,
                     "--oath-users holds one token per user, and every token of a batch is for "
                     "the one --user: give each key its user with --users and one token, or "
                     "leave out --oath-users");
        return;
    }
    if (auto users = read_users(options); !users) {
        context.fail(users.error());
        return;
    }
    if (auto pin = read_pin_setup(options, context.err); !pin) {
        context.fail(pin.error());
        return;
    }
    auto recorders = open_recorders_of(settings.token);
    if (!recorders) {
        context.fail(recorders.error());
        return;
    }
    HeldSerials held = HeldSerials::read(settings.token, **recorders);
    const BatchSummary summary = run_batch(context, settings, (*recorders)->all(), held);

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
        context.out << counted(summary.keysProgrammed, "key", "keys") << " programmed, "
                    << counted(summary.keysFailed, "key", "keys") << " failed; "
                    << counted(summary.tokensProgrammed, "token", "tokens") << " programmed, "
                    << counted(summary.tokensFailed, "token", "tokens") << " failed"
                    << (summary.usersLeft
                            ? "; " + counted(*summary.usersLeft, "user", "users") + " left"
                            : "")
                    << (summary.interrupted ? "; interrupted" : "") << '\n';
        for (const FailedKey& f : summary.failures)
            context.out << "failed: key " << f.number << " (" << f.keySerial << ")"
                        << (f.user.empty() ? "" : " for \"" + printable(f.user) + "\"") << ": "
                        << printable(f.reason) << '\n';
    }
    const bool unfinished = summary.keysProgrammed < settings.keys;
    if (unfinished && (!summary.failures.empty() || summary.interrupted))
        context.err << "To program what is left: " << finishing_command(context, options, summary)
                    << '\n';
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
    command->add_option("--pin-policy", options->pinPolicy,
                        "Switch each key's PIN policy on with these values before its tokens: "
                        "NAME=NUMBER,... with the names of pin policy's options (min-length=6)");
    command->add_option("--new-pin-file", options->newPinFile,
                        "Give each key this PIN (first line of the file, - for standard input) "
                        "before its tokens; a key with a PIN has it changed");
    command->callback([&context, options] { run_batch_command(context, *options); });
}

} // namespace otp::cli
