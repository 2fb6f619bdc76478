#pragma once

// Each vnotp-cli command registers itself on the application; its callback
// runs the command and leaves the exit code in the context.

#include "cli/CliContext.h"

#include <CLI/CLI.hpp>

namespace otp::cli {

void add_info_command(CLI::App& app, CliContext& context);
void add_list_command(CLI::App& app, CliContext& context);
void add_program_command(CLI::App& app, CliContext& context);
void add_otp_command(CLI::App& app, CliContext& context);
void add_remove_command(CLI::App& app, CliContext& context);
void add_reset_command(CLI::App& app, CliContext& context);
void add_enter_command(CLI::App& app, CliContext& context);
void add_batch_command(CLI::App& app, CliContext& context);
void add_pskc_command(CLI::App& app, CliContext& context);
void add_pskc_convert_command(CLI::App& pskc, CliContext& context);
void add_pskc_show_command(CLI::App& pskc, CliContext& context);
void add_pskc_retire_command(CLI::App& pskc, CliContext& context);
void add_oath_users_command(CLI::App& app, CliContext& context);
void add_pin_command(CLI::App& app, CliContext& context);

// Parses the arguments and runs the command; returns the exit code.
int run_cli(int argc, char** argv, CliContext& context);

} // namespace otp::cli
