#include "cli/CliLog.h"
#include "cli/Commands.h"
#include "cli/ExitCode.h"
#include "cli/HelpText.h"
#include "cli/UnknownCommand.h"

using namespace otp::core;
using namespace otp::device;

namespace otp::cli {

namespace {

// No input may end the program by an uncaught exception (an abort, exit code
// 134): the command stops with a refusal, unless it had already failed with
// a code of its own (a token programmed but not recorded keeps its 5).
int stopped(CliContext& context, const std::string& why)
{
    const int earlier = context.exitCode;
    context.fail(ExitCode::Usage, "stopped: " + why);
    return earlier != ExitCode::Success ? earlier : ExitCode::Usage;
}

} // namespace

int run_cli(int argc, char** argv, CliContext& context)
{
    // Before anything can log: spdlog's own logger would write to standard output.
    install_cli_log(context);
    CLI::App app{"Programs and manages the OTP tokens on the one Vornik/Tessel key plugged in.",
                 "vnotp-cli"};
    app.require_subcommand(1);
    app.fallthrough();
    app.set_version_flag("-V,--version", "vnotp-cli " VNOTP_VERSION, "Print the version and exit");
    app.add_option("--pin-file", context.pinFile,
                   "When the key has a PIN: read it from the first line of this file");
    app.add_flag("--pin-stdin", context.pinStdin,
                 "When the key has a PIN: read it from the first line of standard input");
    app.add_flag("-v,--verbose", context.verbose,
                 "Diagnostics (the program's error log) on standard error; none without it");

    add_info_command(app, context);
    add_list_command(app, context);
    add_program_command(app, context);
    add_otp_command(app, context);
    add_remove_command(app, context);
    add_reset_command(app, context);
    add_enter_command(app, context);
    add_batch_command(app, context);
    add_pskc_command(app, context);
    add_oath_users_command(app, context);
    add_pin_command(app, context);
    // After the commands: a footer set before is copied into each of them.
    app.footer(main_help_footer);

    context.arguments.assign(argv + 1, argv + argc);
    if (auto unknown = unknown_command(app, {argv + 1, static_cast<std::size_t>(argc - 1)}))
        return context.fail(ExitCode::Usage, *unknown + " (see vnotp-cli --help)");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        app.exit(e, context.out, context.err);
        return ExitCode::Success;
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) {
            app.exit(e, context.out, context.err);
            return ExitCode::Success;
        }
        app.exit(e, context.out, context.err);
        return ExitCode::Usage;
    } catch (const std::exception& e) {
        return stopped(context, e.what());
    } catch (...) {
        return stopped(context, "an unexpected failure");
    }
    return context.exitCode;
}

} // namespace otp::cli
