#include "cli/Commands.h"
#include "cli/ExitCode.h"
#include "cli/Terminal.h"
#include "cli/TokenTarget.h"
#include "core/PrintableText.h"

#include "tokens/TokenCommands.h"

using namespace otp::core;
using namespace otp::device;
using namespace otp::tokens;

namespace otp::cli {

void add_remove_command(CLI::App& app, CliContext& context)
{
    auto* command = app.add_subcommand(
        "remove", "Deletes the token from the key (asks first; --yes answers for scripts)");
    auto serial = std::make_shared<std::string>();
    auto yes = std::make_shared<bool>(false);
    command->add_option("SERIAL", *serial, "Serial number of the token")->required();
    command->add_flag("-y,--yes", *yes, "Yes, delete the token: do not ask");
    command->callback([&context, serial, yes] {
        if (!*yes && !at_terminal()) {
            context.fail(ExitCode::Usage, "remove deletes the token SN=" + printable(*serial) +
                                              " for good; add --yes to go ahead");
            return;
        }
        KeySession key(context.device);
        const auto target = find_token_target(context, key, *serial);
        if (!target)
            return;
        const std::string what = "token SN=" + printable(*serial) + " (" +
                                 token_cells(target->token)[1] + ") from key " + target->keySerial;
        if (!*yes && !ask_yes_no("Delete " + what + "?", context.err)) {
            context.fail(ExitCode::Usage,
                         "nothing deleted: the token stays on key " + target->keySerial);
            return;
        }
        context.touchPrompt();
        if (auto removed = key.remove(target->token, target->access.text()); !removed) {
            context.fail(removed.error(),
                         "Failed to delete the OTP token SN=" + printable(*serial));
            return;
        }
        context.out << "Deleted " << what << '\n';
    });
}

} // namespace otp::cli
