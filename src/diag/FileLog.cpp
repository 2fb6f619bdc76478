#include "diag/FileLog.h"

#include "core/SecretFile.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <string>

using namespace otp::core;

namespace otp::diag {

namespace {

// XDG: a relative value is to be ignored.
std::filesystem::path absolute_from(const char* variable)
{
    const char* value = std::getenv(variable);
    const std::filesystem::path path = value ? value : "";
    return path.is_absolute() ? path : std::filesystem::path();
}

// Each missing folder is made with mode 0700 at once, never widened later.
void create_owner_only(const std::filesystem::path& folder)
{
    std::filesystem::path made;
    for (const auto& step : folder) {
        made /= step;
        ::mkdir(made.c_str(), S_IRWXU);
    }
}

} // namespace

std::filesystem::path file_log_path()
{
    std::filesystem::path state = absolute_from("XDG_STATE_HOME");
    if (state.empty()) {
        const std::filesystem::path home = absolute_from("HOME");
        if (home.empty())
            return {};
        state = home / ".local" / "state";
    }
    return state / "vnotp" / "vnotp.log";
}

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

    // Whatever folder the log is given, the open must not be turned against
    // us: no following a planted link, no blocking on a planted FIFO, no
    // appending to a file someone else owns or can read through a link.
    const auto file = open_private_for_append(std::filesystem::path(pathText));
    if (!file) {
        std::fprintf(stderr, "Error: Could not open file %s for writing.\n", pathText.c_str());
        return;
    }
    // One write call per line, so two entries in the same second never interleave.
    (void)write_all(file->fd.get(), line);
}

void log_to_state_file(std::string_view message)
{
    const std::filesystem::path path = file_log_path();
    if (path.empty())
        return;
    create_owner_only(path.parent_path());
    log_to_file(path.string(), message);
}

} // namespace otp::diag
