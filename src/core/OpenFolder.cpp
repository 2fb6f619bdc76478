#include "core/OpenFolder.h"

#include <fmt/format.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace otp::core {

namespace {

bool trusted_owner(const struct stat& st)
{
    return st.st_uid == ::geteuid() || st.st_uid == 0;
}

// Anyone but its owner can rename an entry in it: writable by group or
// others, without the sticky bit of a folder of root's.
bool others_can_rename_in(const struct stat& st)
{
    return (st.st_mode & (S_IWGRP | S_IWOTH)) && !((st.st_mode & S_ISVTX) && st.st_uid == 0);
}

std::unexpected<OpError> refused(std::string detail)
{
    return fail(Fault::Refused, std::move(detail));
}

OpResult<void> check_above(const std::filesystem::path& folder, const struct stat& st,
                           std::string_view what)
{
    if (!trusted_owner(st))
        return refused(fmt::format("{} lies inside {}, which belongs to another account (uid {}): "
                                   "it could rename what is inside and put a folder of its own "
                                   "in its place. Choose a folder outside it.",
                                   what, folder.string(), st.st_uid));
    if (others_can_rename_in(st))
        return refused(fmt::format("{} lies inside {}, which other accounts can write: any of them "
                                   "could rename what is inside and put a folder of their own in "
                                   "its place. Choose a folder outside it, or make {} writable by "
                                   "its owner alone (chmod go-w {}).",
                                   what, folder.string(), folder.string(), folder.string()));
    return {};
}

struct Walked
{
    FileDescriptor fd;
    struct stat st = {};
};

// Opens `real` (absolute, without links) from the root down, one folder at a
// time without following a link, checking every folder above it. A folder
// that became a link meanwhile ends the walk.
OpResult<Walked> walk(const std::filesystem::path& real, std::string_view what)
{
    Walked at{FileDescriptor(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC)), {}};
    std::filesystem::path reached = "/";
    if (!at.fd || ::fstat(at.fd.get(), &at.st) != 0)
        return fail(Fault::Io,
                    fmt::format("{}: / cannot be examined ({})", what, std::strerror(errno)));
    for (const std::filesystem::path& step : real.relative_path()) {
        if (step.empty())
            continue;
        if (auto safe = check_above(reached, at.st, what); !safe)
            return std::unexpected(safe.error());
        reached /= step;
        FileDescriptor next(
            ::openat(at.fd.get(), step.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!next) {
            const int error = errno;
            if (error == ELOOP || error == ENOTDIR || error == ENOENT)
                return refused(fmt::format("{}: {} changed while it was checked; nothing is "
                                           "written. Try again.",
                                           what, reached.string()));
            return fail(Fault::Io, fmt::format("{}: {} cannot be opened ({})", what,
                                               reached.string(), std::strerror(error)));
        }
        at.fd = std::move(next);
        if (::fstat(at.fd.get(), &at.st) != 0)
            return fail(Fault::Io, fmt::format("{}: {} cannot be examined ({})", what,
                                               reached.string(), std::strerror(errno)));
    }
    return at;
}

OpResult<std::filesystem::path> resolved(const std::filesystem::path& folder, std::string_view name)
{
    char real[PATH_MAX];
    if (::realpath(folder.c_str(), real) != nullptr)
        return std::filesystem::path(real);
    const int error = errno;
    if (error == ENOENT)
        return refused(fmt::format("{} does not exist", name));
    if (error == ENOTDIR)
        return refused(fmt::format("{} is not a folder", name));
    return refused(fmt::format("{} cannot be used ({})", name, std::strerror(error)));
}

} // namespace

std::filesystem::path folder_of(const std::filesystem::path& file)
{
    return file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
}

OpResult<void> check_folders_above(const std::filesystem::path& folder, std::string_view what)
{
    auto at = walk(folder, what);
    if (!at)
        return std::unexpected(at.error());
    return check_above(folder, at->st, what);
}

OpResult<OpenFolder> OpenFolder::open(const std::filesystem::path& folder, std::string name)
{
    if (folder.empty())
        return refused(fmt::format("{}: no folder is named", name));
    auto real = resolved(folder, name);
    if (!real)
        return std::unexpected(real.error());
    auto at = walk(*real, name);
    if (!at)
        return std::unexpected(at.error());
    const struct stat& st = at->st;
    if (!S_ISDIR(st.st_mode))
        return refused(fmt::format("{} is not a folder", name));
    if (!trusted_owner(st))
        return refused(fmt::format("{} belongs to another account (uid {}), who could replace the "
                                   "files in it; choose a folder of your own.",
                                   name, st.st_uid));
    if (st.st_mode & (S_IWGRP | S_IWOTH))
        return refused(fmt::format("{} can be written by other accounts, who could read the seeds "
                                   "through files they plant there; choose a folder only you can "
                                   "write, or make this one yours alone (chmod go-w {})",
                                   name, real->string()));
    const bool writable = st.st_uid == ::geteuid()
                              ? (st.st_mode & (S_IWUSR | S_IXUSR)) == (S_IWUSR | S_IXUSR)
                              : ::access(real->c_str(), W_OK | X_OK) == 0;
    if (!writable)
        return refused(fmt::format("{} cannot be written (mode {:04o}); make it writable (chmod "
                                   "u+wx {}) or choose another folder",
                                   name, st.st_mode & 07777, real->string()));
    return OpenFolder(std::move(at->fd), std::move(*real), std::move(name), st.st_dev, st.st_ino);
}

OpResult<OpenFolder> OpenFolder::open_unchecked(const std::filesystem::path& folder)
{
    const std::string name = folder.string();
    FileDescriptor fd(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct stat st = {};
    if (!fd || ::fstat(fd.get(), &st) != 0)
        return fail(Fault::Io,
                    fmt::format("{}: cannot be opened ({})", name, std::strerror(errno)));
    std::error_code error;
    std::filesystem::path real = std::filesystem::canonical(folder, error);
    return OpenFolder(std::move(fd), error ? folder : real, name, st.st_dev, st.st_ino);
}

} // namespace otp::core
