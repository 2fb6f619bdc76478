#include "cli/Commands.h"

#include "device/Discovery.h"
#include "tokens/TokenCommands.h"

#include <ctime>

void add_otp_command(CLI::App& app, CliContext& context)
{
    auto* command = app.add_subcommand("otp", "The token's current OTP, computed by the key");
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
        const auto otp = compute_otp(context.device, *record, *access, std::time(nullptr));
        if (!otp) {
            context.fail(otp.error(), "Failed to get OTP");
            return;
        }
        context.out << *otp << '\n';
    });
}
