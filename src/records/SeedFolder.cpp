#include "records/SeedFolder.h"

#include <cstdlib>
#include <sys/stat.h>
#include <system_error>

namespace {

std::string environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

// mkdir with mode 0700 leaves no moment in which the folder is open to others,
// as a chmod after creating it would.
void create_owner_only(const std::filesystem::path& folder)
{
    std::error_code error;
    if (std::filesystem::exists(folder, error))
        return;
    std::filesystem::create_directories(folder.parent_path(), error);
    ::mkdir(folder.c_str(), S_IRWXU);
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
    const std::filesystem::path dataHome =
        std::filesystem::path(inputs.xdgDataHome).is_absolute()
            ? std::filesystem::path(inputs.xdgDataHome)
            : std::filesystem::path(inputs.home) / ".local/share";
    return clean(dataHome / "vnotp");
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
    if (folder != inputs.executableDir)
        create_owner_only(folder);
    return folder;
}
