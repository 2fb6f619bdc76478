#include "diag/FileLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

namespace {

// The log sits in a world-writable directory, so the open must not be turned
// against us: no following a planted symbolic link, no blocking on a planted
// FIFO, no appending to a file someone else owns and can read, and no
// appending through a hard link planted to a file elsewhere.
int openForAppend(const std::string& path)
{
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
               S_IRUSR | S_IWUSR);
    if (fd < 0)
        return -1;
    struct stat st = {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 ||
        st.st_uid != ::geteuid()) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool writeAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

} // namespace

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

    const int fd = openForAppend(pathText);
    if (fd < 0) {
        std::fprintf(stderr, "Error: Could not open file %s for writing.\n", pathText.c_str());
        return;
    }
    // One write call per line, so two entries in the same second never interleave.
    (void)writeAll(fd, line);
    ::close(fd);
}
