#include "cli/Commands.h"

#include "cli/ExitCode.h"
#include "cli/Terminal.h"
#include "tokens/TokenCommands.h"

#include <fmt/format.h>

using namespace otp::core;
using namespace otp::device;
using namespace otp::tokens;

namespace otp::cli {

void add_reset_command(CLI::App& app, CliContext& context)
{
    auto* command = app.add_subcommand(
        "reset", "Erases the key: every token, the PIN policy and the PIN (asks first; --yes "
                 "answers for scripts)");
    auto yes = std::make_shared<bool>(false);
    command->add_flag("-y,--yes", *yes, "Yes, erase the key: do not ask");
    command->callback([&context, yes] {
        if (!*yes && !at_terminal()) {
            context.fail(ExitCode::Usage,
                         "reset erases every token, the PIN policy and the PIN on the key; "
                         "add --yes to go ahead");
            return;
        }
        KeySession key(context.device);
        const auto serial = key.find_key();
        if (!serial) {
            context.fail(serial.error());
            return;
        }
        const auto tokens = key.tokens();
        if (!tokens) {
            context.fail(tokens.error());
            return;
        }
        const std::string what = fmt::format("key {} ({} {})", *serial, tokens->size(),
                                             tokens->size() == 1 ? "token" : "tokens");
        if (!*yes && !ask_yes_no("Erase " + what + ", its PIN policy and its PIN?", context.err)) {
            context.fail(ExitCode::Usage, "nothing erased: " + what + " is left as it is");
            return;
        }
        context.touchPrompt();
        if (auto reset = key.reset(); !reset) {
            context.fail(reset.error(), "Failed to reset the device " + *serial);
            return;
        }
        context.out << "Reset Succeeded! Erased " << what << ", its PIN policy and its PIN\n";
    });
}

} // namespace otp::cli
