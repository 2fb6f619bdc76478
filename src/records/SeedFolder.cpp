#include "records/SeedFolder.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <system_error>

namespace otp::records {

namespace {

std::string environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

// Every missing folder on the way (~/.local and ~/.local/share too) is made
// with mode 0700, which no umask widens, so none is ever open to others, as
// it would be after a chmod or under umask 000.
void create_owner_only(const std::filesystem::path& folder)
{
    std::filesystem::path reached;
    for (const std::filesystem::path& step : folder) {
        reached /= step;
        if (::mkdir(reached.c_str(), S_IRWXU) != 0 && errno != EEXIST)
            return; // the seed recorder names the folder and says why
    }
}

// Without "." and ".." steps and without a trailing separator.
std::filesystem::path clean(const std::filesystem::path& path)
{
    std::filesystem::path normal = path.lexically_normal();
    if (!normal.has_filename() && normal.has_relative_path())
        normal = normal.parent_path();
    return normal;
}

} // namespace

std::filesystem::path choose_seed_folder(const SeedFolderInputs& inputs)
{
    if (!inputs.overrideDir.empty())
        return clean(inputs.overrideDir);
    if (inputs.inBuildTree && !inputs.executableDir.empty())
        return inputs.executableDir;
    if (std::filesystem::path(inputs.xdgDataHome).is_absolute())
        return clean(std::filesystem::path(inputs.xdgDataHome) / "vnotp");
    // Without a home, ".local/share" would be taken from wherever the program
    // happens to be started.
    if (!std::filesystem::path(inputs.home).is_absolute())
        return {};
    return clean(std::filesystem::path(inputs.home) / ".local/share/vnotp");
}

std::filesystem::path executable_folder()
{
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : self.parent_path();
}

std::filesystem::path default_seed_folder()
{
    SeedFolderInputs inputs{
        .overrideDir = environment("VNOTP_SEED_DIR"),
        .executableDir = executable_folder(),
        .xdgDataHome = environment("XDG_DATA_HOME"),
        .home = environment("HOME"),
    };
    // A build tree holds the cache CMake configured it with, one level above
    // the folder its programs are built into; no installed program has one.
    std::error_code error;
    inputs.inBuildTree =
        !inputs.executableDir.empty() &&
        std::filesystem::exists(inputs.executableDir.parent_path() / "CMakeCache.txt", error);
    const std::filesystem::path folder = choose_seed_folder(inputs);
    if (!folder.empty() && folder != inputs.executableDir)
        create_owner_only(folder);
    return folder;
}

} // namespace otp::records
