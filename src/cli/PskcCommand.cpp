#include "cli/Commands.h"

using namespace otp::core;
using namespace otp::device;

namespace otp::cli {

void add_pskc_command(CLI::App& app, CliContext& context)
{
    auto* command = app.add_subcommand(
        "pskc",
        "Encrypted PSKC files (RFC 6030): convert seed files into one, show one, retire tokens");
    command->require_subcommand(1);
    add_pskc_convert_command(*command, context);
    add_pskc_show_command(*command, context);
    add_pskc_retire_command(*command, context);
}

} // namespace otp::cli
