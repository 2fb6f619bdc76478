#pragma once

// Text from a key or a file, made safe for a terminal: a serial number or a
// PSKC UserId may hold anything, and an ESC sequence would drive the
// terminal, a line break would print one token as two rows.

#include <string>
#include <string_view>

namespace otp::core {

// Printable UTF-8 stays as it is; C0 and C1 controls, DEL, a backslash and
// every byte that is not part of valid UTF-8 are written as \n, \t, \\ or
// \xHH, so that two different texts never look the same.
std::string printable(std::string_view text);

} // namespace otp::core
