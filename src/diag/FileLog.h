#pragma once

// The small append-only file log. It is a diagnostic aid only: it never
// reports a failure to its caller, and the caller goes on as if the line had
// been written.

#include <ctime>
#include <string>
#include <string_view>

// Where the PIN Policy dialog keeps its log on this platform.
inline constexpr std::string_view kFileLogPath = "/tmp/1.log";

// Appends "[YYYY-mm-dd HH:MM:SS] message" and a line end to the file at path,
// creating it readable by its owner only. When the file cannot be opened, one
// line goes to standard error instead.
void log_to_file(std::string_view path, std::string_view message);

// The line log_to_file writes at the moment `when` (local time), without the
// line end.
std::string fileLogLine(std::time_t when, std::string_view message);
