#include "cli/Commands.h"
#include "cli/TokenTarget.h"

#include "tokens/TokenCommands.h"

void add_remove_command(CLI::App& app, CliContext& context)
{
    auto* command = app.add_subcommand("remove", "Deletes the token from the key");
    auto serial = std::make_shared<std::string>();
    command->add_option("SERIAL", *serial, "Serial number of the token")->required();
    command->callback([&context, serial] {
        KeySession key(context.device);
        const auto target = find_token_target(context, key, *serial);
        if (!target)
            return;
        context.touchPrompt();
        if (auto removed = key.remove(target->record, target->access.text()); !removed) {
            context.fail(removed.error(), "Failed to delete the OTP token SN=" + *serial);
            return;
        }
        context.out << "Token SN=" << *serial << " removed\n";
    });
}
