#pragma once

// vnotp's command line, read before any window exists so that --help and
// --version work without a display. Qt's own options (-platform, -style, ...)
// are known to it and left to QApplication.

#include <cstdio>
#include <optional>

namespace otp::app {

// Returns the exit code when the command line has been answered (--help and
// --version: 0; an unknown option: the help on stderr and 2), or nothing when
// the window is to start. A QCoreApplication is made for the answer when none
// exists yet, and is gone again on return.
std::optional<int> answer_command_line(int& argc, char* argv[], FILE* out = stdout,
                                       FILE* err = stderr);

} // namespace otp::app
