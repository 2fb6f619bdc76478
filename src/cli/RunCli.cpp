#include "cli/Commands.h"
#include "cli/ExitCode.h"
#include "cli/UnknownCommand.h"

#include "records/SeedFolder.h"

#include <exception>
#include <ostream>

namespace {

// Asked only when the help is shown: finding the folder may create it.
std::string help_footer()
{
    return std::string(kExitCodeHelp) +
           "\n\nSeed files (hseeds.xml, hseeds.csv, tseeds.xml, tseeds.csv) go to --out-dir;\n"
           "else to $VNOTP_SEED_DIR when it is set; else, for a program run from its build\n"
           "tree, beside the program; else to $XDG_DATA_HOME/vnotp (by default\n"
           "~/.local/share/vnotp), created readable by its owner only.\n"
           "Seed folder in use: " +
           default_seed_folder().string();
}

int parse_and_run(CLI::App& app, int argc, char** argv, CliContext& context)
{
    if (auto unknown = unknown_command(app, {argv + 1, static_cast<std::size_t>(argc - 1)})) {
        context.fail(ExitCode::Usage, *unknown + " (see vnotp-cli --help)");
        return ExitCode::Usage;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e, context.out, context.err);
        return code == 0 ? ExitCode::Success : ExitCode::Usage;
    }
    return context.exitCode;
}

} // namespace

int run_cli(int argc, char** argv, CliContext& context)
{
    CLI::App app{"Programs and manages the OTP tokens on the one Vornik/Tessel key plugged in.",
                 "vnotp-cli"};
    app.require_subcommand(1);
    app.fallthrough();
    app.set_version_flag("-V,--version", "vnotp-cli " VNOTP_VERSION, "Print the version and exit");
    app.add_option("--pin-file", context.pinFile,
                   "When the key has a PIN: read it from the first line of this file");
    app.add_flag("--pin-stdin", context.pinStdin,
                 "When the key has a PIN: read it from the first line of standard input");

    add_info_command(app, context);
    add_list_command(app, context);
    add_program_command(app, context);
    add_otp_command(app, context);
    add_remove_command(app, context);
    add_reset_command(app, context);
    add_enter_command(app, context);
    add_batch_command(app, context);
    add_pskc_command(app, context);
    // After the commands: a footer set before is copied into each of them.
    app.footer(help_footer);

    // No input may end the program by an exception.
    try {
        return parse_and_run(app, argc, argv, context);
    } catch (const std::exception& e) {
        return context.fail(ExitCode::Usage, std::string("stopped: ") + e.what());
    }
}
