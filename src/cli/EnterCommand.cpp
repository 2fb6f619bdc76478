#include "cli/Commands.h"

#include "tokens/TokenCommands.h"

using namespace otp::core;
using namespace otp::device;
using namespace otp::tokens;

namespace otp::cli {

void add_enter_command(CLI::App& app, CliContext& context)
{
    auto* command =
        app.add_subcommand("enter", "Whether the key types ENTER after it types an OTP");
    auto choice = std::make_shared<std::string>();
    command->add_option("on|off", *choice, "on or off")
        ->required()
        ->transform(CLI::IsMember({"on", "off"}, CLI::ignore_case));
    command->callback([&context, choice] {
        KeySession key(context.device);
        const auto serial = key.find_key();
        if (!serial) {
            context.fail(serial.error());
            return;
        }
        if (auto set = key.set_enter(*choice == "on"); !set) {
            context.fail(set.error(), "Failed to set C/R");
            return;
        }
        context.out << "Key " << *serial << " types ENTER after an OTP: " << *choice << '\n';
    });
}

} // namespace otp::cli
