#include "cli/Commands.h"
#include "cli/TokenTarget.h"

#include "tokens/TokenCommands.h"

#include <ctime>

using namespace otp::core;
using namespace otp::device;
using namespace otp::tokens;

namespace otp::cli {

void add_otp_command(CLI::App& app, CliContext& context)
{
    auto* command = app.add_subcommand("otp", "The token's current OTP, computed by the key");
    auto serial = std::make_shared<std::string>();
    command->add_option("SERIAL", *serial, "Serial number of the token")->required();
    command->callback([&context, serial] {
        KeySession key(context.device);
        const auto target = find_token_target(context, key, *serial);
        if (!target)
            return;
        // The time of the request, not of the touch.
        const std::time_t asked = std::time(nullptr);
        context.touchPrompt();
        const auto otp = key.calculate(target->token, asked, target->access.text());
        if (!otp) {
            context.fail(otp.error(), "Failed to get OTP");
            return;
        }
        context.out << *otp << '\n';
    });
}

} // namespace otp::cli
