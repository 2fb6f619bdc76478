#pragma once

// Reading a secret (a PIN, a password) from the terminal without echo.

#include "core/Error.h"
#include "core/Secret.h"

#include <iosfwd>
#include <string_view>

namespace otp::cli {

// Shows `prompt` on the controlling terminal (or on `terminal` when it is not
// -1) and reads one line with echo off; the terminal's settings come back
// however the read ends. Cancelled when the input ended without a line,
// Refused when there is no terminal to ask on.
core::OpResult<core::Password> read_secret_line(std::string_view prompt, int terminal = -1);

// Whether standard input is a terminal a person can answer a question at.
bool at_terminal();

// Asks `question` followed by " [y/N] " on `err` and reads the answer from
// standard input: true only for "y" or "yes" in any case.
bool ask_yes_no(std::string_view question, std::ostream& err);

} // namespace otp::cli
