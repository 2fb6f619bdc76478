#pragma once

// A mistyped command or long option named as such, with the one nearest to
// it, before CLI11 would only say that a subcommand is required or that an
// argument was not expected.

#include <CLI/CLI.hpp>

#include <optional>
#include <span>
#include <string>

namespace otp::cli {

// "unknown command 'lst'; did you mean 'list'?" for the first word of the
// arguments (argv without the program) that is neither an option, nor an
// option's value, nor a command of the application or of the command before
// it; "unknown option '--jsn'; did you mean '--json'?" for a long option
// that neither the command nor the commands around it know (the options
// given before a command are taken after it too); nothing when there is none.
std::optional<std::string> unknown_command(CLI::App& app, std::span<char* const> arguments);

} // namespace otp::cli
