#pragma once

// The small append-only file log. It is a diagnostic aid only: it never
// reports a failure to its caller, and the caller goes on as if the line had
// been written.

#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>

namespace otp::diag {

// Where the window keeps its file log: $XDG_STATE_HOME/vnotp/vnotp.log, by
// default ~/.local/state/vnotp/vnotp.log. A folder of the account's own: a
// fixed name in a shared folder could be created first by another account.
// Empty when neither variable says where the account's files go.
std::filesystem::path file_log_path();

// log_to_file on file_log_path(), creating the folders on the way readable
// by their owner only.
void log_to_state_file(std::string_view message);

// Appends "[YYYY-mm-dd HH:MM:SS] message" and a line end to the file at path,
// creating it readable by its owner only. When the file cannot be opened, one
// line goes to standard error instead.
void log_to_file(std::string_view path, std::string_view message);

// The line log_to_file writes at the moment `when` (local time), without the
// line end.
std::string fileLogLine(std::time_t when, std::string_view message);

} // namespace otp::diag
