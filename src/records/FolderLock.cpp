#include "records/FolderLock.h"

#include <fmt/format.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

using namespace otp::core;

namespace otp::records {

std::filesystem::path FolderLock::lockFilePath(const std::filesystem::path& directory)
{
    return (directory.empty() ? std::filesystem::path(".") : directory) / ".seedfiles.lock";
}

OpResult<FolderLock> FolderLock::acquire(const OpenFolder& folder,
                                         std::chrono::milliseconds patience)
{
    const std::string lockFile = lockFilePath(folder.path()).string();
    // O_NOFOLLOW: a link planted in a shared folder must not make us create
    // or lock a file elsewhere.
    const int fd =
        ::openat(folder.fd(), ".seedfiles.lock", O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return fail(Fault::Io,
                    fmt::format("{}: cannot be opened ({})", lockFile, std::strerror(errno)));

    // Polled rather than blocking, so that a writer that hangs while holding
    // the lock costs the user one failure message instead of a frozen window.
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        if (err == EINTR)
            continue;
        if (err != EWOULDBLOCK) {
            ::close(fd);
            return fail(Fault::Io,
                        fmt::format("{}: cannot be locked ({})", lockFile, std::strerror(err)));
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            ::close(fd);
            return fail(
                Fault::Io,
                fmt::format("{}: another program is writing the files of its folder", lockFile));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return FolderLock(fd);
}

OpResult<FolderLock> FolderLock::acquire(const std::filesystem::path& directory,
                                         std::chrono::milliseconds patience)
{
    auto folder = OpenFolder::open_unchecked(directory.empty() ? "." : directory);
    if (!folder)
        return std::unexpected(folder.error());
    return acquire(*folder, patience);
}

FolderLock::~FolderLock()
{
    if (m_fd >= 0)
        ::close(m_fd); // closing the descriptor releases the flock
}

OpResult<std::vector<FolderLock>> acquire_folder_locks(std::span<const OpenFolder* const> folders,
                                                       std::chrono::milliseconds patience)
{
    std::vector<const OpenFolder*> order(folders.begin(), folders.end());
    std::ranges::sort(order, {}, &OpenFolder::path);
    std::vector<FolderLock> locks;
    for (auto at = order.begin(); at != order.end(); ++at) {
        if (std::any_of(order.begin(), at,
                        [&](const OpenFolder* taken) { return taken->same_folder(**at); }))
            continue;
        auto lock = FolderLock::acquire(**at, patience);
        if (!lock)
            return std::unexpected(lock.error());
        locks.push_back(std::move(*lock));
    }
    return locks;
}

OpResult<ConversionFolders> lock_conversion_folders(std::span<const std::filesystem::path> sources,
                                                    const std::filesystem::path& out,
                                                    std::string outName,
                                                    std::chrono::milliseconds patience)
{
    ConversionFolders held;
    auto outFolder = OpenFolder::open(folder_of(out), std::move(outName));
    if (!outFolder)
        return std::unexpected(outFolder.error());
    held.out.emplace(std::move(*outFolder));
    std::vector<const OpenFolder*> all{&*held.out};
    for (const std::filesystem::path& source : sources) {
        auto folder = OpenFolder::open_unchecked(folder_of(source));
        if (!folder)
            return std::unexpected(folder.error());
        held.sources.push_back(std::move(*folder));
    }
    for (const OpenFolder& folder : held.sources)
        all.push_back(&folder);
    auto locks = acquire_folder_locks(all, patience);
    if (!locks)
        return std::unexpected(locks.error());
    held.locks = std::move(*locks);
    return held;
}

OpResult<LockedFileFolder> lock_file_folder(const std::filesystem::path& file,
                                            std::string_view what,
                                            std::chrono::milliseconds patience)
{
    const std::filesystem::path folderPath = folder_of(file);
    auto folder =
        OpenFolder::open(folderPath, fmt::format("the folder {} of {} {}", folderPath.string(),
                                                 what, file.string()));
    if (!folder)
        return std::unexpected(folder.error());
    auto lock = FolderLock::acquire(*folder, patience);
    if (!lock)
        return std::unexpected(lock.error());
    const FileAt at = folder->file(file.filename(), file);
    return LockedFileFolder{std::move(*folder), std::move(*lock), at};
}

} // namespace otp::records
