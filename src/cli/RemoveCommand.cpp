#include "cli/Commands.h"

#include "device/Discovery.h"
#include "tokens/TokenCommands.h"

void add_remove_command(CLI::App& app, CliContext& context)
{
    auto* command = app.add_subcommand("remove", "Deletes the token from the key");
    auto serial = std::make_shared<std::string>();
    command->add_option("SERIAL", *serial, "Serial number of the token")->required();
    command->callback([&context, serial] {
        if (auto key = find_the_key(context.device); !key) {
            context.fail(key.error());
            return;
        }
        const auto access = context.access();
        if (!access) {
            context.fail(access.error());
            return;
        }
        const auto record = token_with_serial(context.device, *serial);
        if (!record) {
            context.fail(record.error());
            return;
        }
        context.touchPrompt();
        if (auto removed = remove_token(context.device, *record, *access); !removed) {
            context.fail(removed.error(), "Failed to delete the OTP token SN=" + *serial);
            return;
        }
        context.out << "Token SN=" << *serial << " removed\n";
    });
}
