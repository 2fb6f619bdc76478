#include "cli/Commands.h"

#include "device/Discovery.h"
#include "tokens/TokenCommands.h"

void add_enter_command(CLI::App& app, CliContext& context)
{
    auto* command =
        app.add_subcommand("enter", "Whether the key types ENTER after it types an OTP");
    auto choice = std::make_shared<std::string>();
    command->add_option("on|off", *choice, "on or off")
        ->required()
        ->check(CLI::IsMember({"on", "off"}));
    command->callback([&context, choice] {
        if (auto key = find_the_key(context.device); !key) {
            context.fail(key.error());
            return;
        }
        if (auto set = set_enter_flag(context.device, *choice == "on"); !set) {
            context.fail(set.error(), "Failed to set C/R");
            return;
        }
        context.out << "ENTER after an OTP: " << *choice << '\n';
    });
}
