#pragma once

// A mistyped command named as such, with the command nearest to it, before
// CLI11 would only say that a subcommand is required.

#include <CLI/CLI.hpp>

#include <optional>
#include <span>
#include <string>

// "unknown command 'lst'; did you mean 'list'?" for the first word of the
// arguments (argv without the program) that is neither an option, nor an
// option's value, nor a command of the application or of the command before
// it; nothing when there is none.
std::optional<std::string> unknown_command(CLI::App& app, std::span<char* const> arguments);
