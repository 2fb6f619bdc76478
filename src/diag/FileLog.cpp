#include "diag/FileLog.h"

#include "core/SecretFile.h"

#include <cstdio>
#include <string>

std::string fileLogLine(std::time_t when, std::string_view message)
{
    std::tm local{};
    localtime_r(&when, &local);
    char stamp[32] = {};
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);

    std::string line;
    line.reserve(message.size() + 24);
    line.append("[").append(stamp).append("] ").append(message);
    return line;
}

void log_to_file(std::string_view path, std::string_view message)
{
    const std::string pathText(path);
    const std::string line = fileLogLine(std::time(nullptr), message) + '\n';

    // The log sits in a world-writable folder, so the open must not be turned
    // against us: no following a planted link, no blocking on a planted FIFO,
    // no appending to a file someone else owns or can read through a link.
    const auto file = open_private_for_append(std::filesystem::path(pathText));
    if (!file) {
        std::fprintf(stderr, "Error: Could not open file %s for writing.\n", pathText.c_str());
        return;
    }
    // One write call per line, so two entries in the same second never interleave.
    (void)write_all(file->fd.get(), line);
}
