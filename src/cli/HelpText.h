#pragma once

// The end of vnotp-cli --help: the exit codes, once, and where the seed files
// go, with the folder in use. Only the main help shows it.

#include <string>

namespace otp::cli {

// Asked only when the help is shown: finding the seed folder may create it.
std::string main_help_footer();

} // namespace otp::cli
