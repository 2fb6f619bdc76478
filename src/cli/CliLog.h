#pragma once

namespace otp::cli {

// vnotp-cli's error log. The rooms below report their internal failures
// through spdlog's default logger, whose own sink writes to standard output,
// where the results and JSON documents go. The command line puts its own
// logger in place: silent unless --verbose, and then one line per message on
// standard error. A key without a PIN record is the normal case here, so its
// message is a note, not an error.

struct CliContext;

void install_cli_log(CliContext& context);

} // namespace otp::cli
