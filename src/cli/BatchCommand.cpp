#include "cli/Batch.h"
#include "cli/Commands.h"
#include "cli/ExitCode.h"
#include "cli/Recorders.h"

#include <ostream>

void add_batch_command(CLI::App& app, CliContext& context)
{
    auto* command = app.add_subcommand(
        "batch", "Programs a stack of keys one after another, each with new tokens");
    auto settings = std::make_shared<BatchSettings>();
    command->add_option("--keys", settings->keys, "Number of keys")
        ->required()
        ->check(CLI::PositiveNumber);
    command->add_option("--tokens-per-key", settings->tokensPerKey, "Tokens on each key")
        ->check(CLI::Range(1, VN_MAX_TOKENS))
        ->capture_default_str();
    add_token_options(*command, settings->token);
    command->callback([&context, settings] {
        if (auto problem = token_options_problem(settings->token)) {
            context.fail(ExitCode::Usage, *problem);
            return;
        }
        if (!settings->token.oathUsersFile.empty() && settings->keys * settings->tokensPerKey > 1) {
            context.fail(ExitCode::Usage,
                         "--oath-users holds one token per user, and every token of a batch is "
                         "for the one --user: program a single token, or leave out --oath-users");
            return;
        }
        auto recorders = Recorders::open(settings->token);
        if (!recorders) {
            context.fail(recorders.error());
            return;
        }
        const BatchSummary summary = run_batch(context, *settings, (*recorders)->all());

        const std::string line = std::to_string(summary.keysProgrammed) + " keys programmed, " +
                                 std::to_string(summary.keysFailed) + " keys failed; " +
                                 std::to_string(summary.tokensProgrammed) + " tokens programmed, " +
                                 std::to_string(summary.tokensFailed) + " tokens failed" +
                                 (summary.interrupted ? "; interrupted" : "");
        if (settings->token.json)
            context.out << nlohmann::json{{"keys", summary.keys},
                                          {"keysProgrammed", summary.keysProgrammed},
                                          {"keysFailed", summary.keysFailed},
                                          {"tokensProgrammed", summary.tokensProgrammed},
                                          {"tokensFailed", summary.tokensFailed},
                                          {"interrupted", summary.interrupted}}
                               .dump(2)
                        << '\n';
        else
            context.out << line << '\n';
        context.exitCode = summary.exitCode;
    });
}
