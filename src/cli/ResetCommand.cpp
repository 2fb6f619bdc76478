#include "cli/Commands.h"

#include "cli/ExitCode.h"
#include "tokens/TokenCommands.h"

void add_reset_command(CLI::App& app, CliContext& context)
{
    auto* command = app.add_subcommand(
        "reset", "Erases the key: every token, the PIN policy and the PIN (needs --yes)");
    auto yes = std::make_shared<bool>(false);
    command->add_flag("--yes", *yes, "Yes, erase the key");
    command->callback([&context, yes] {
        if (!*yes) {
            context.fail(ExitCode::Usage,
                         "reset erases every token, the PIN policy and the PIN on the key; "
                         "add --yes to go ahead");
            return;
        }
        KeySession key(context.device);
        if (auto serial = key.find_key(); !serial) {
            context.fail(serial.error());
            return;
        }
        context.touchPrompt();
        if (auto reset = key.reset(); !reset) {
            context.fail(reset.error(), "Failed to reset the device");
            return;
        }
        context.out << "Reset Succeeded!\n";
    });
}
