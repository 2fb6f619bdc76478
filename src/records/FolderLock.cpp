#include "records/FolderLock.h"

#include <fmt/format.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

std::filesystem::path FolderLock::lockFilePath(const std::filesystem::path& directory)
{
    return (directory.empty() ? std::filesystem::path(".") : directory) / ".seedfiles.lock";
}

OpResult<FolderLock> FolderLock::acquire(const std::filesystem::path& directory,
                                         std::chrono::milliseconds patience)
{
    const std::string lockFile = lockFilePath(directory).string();
    // O_NOFOLLOW: a link planted in a shared folder must not make us create
    // or lock a file elsewhere.
    const int fd =
        ::open(lockFilePath(directory).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
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

FolderLock::~FolderLock()
{
    if (m_fd >= 0)
        ::close(m_fd); // closing the descriptor releases the flock
}

OpResult<std::vector<FolderLock>>
acquire_folder_locks(std::span<const std::filesystem::path> directories,
                     std::chrono::milliseconds patience)
{
    std::vector<std::filesystem::path> folders;
    for (const std::filesystem::path& directory : directories) {
        std::error_code error;
        const std::filesystem::path folder = std::filesystem::weakly_canonical(
            std::filesystem::absolute(directory.empty() ? "." : directory), error);
        folders.push_back(error ? directory : folder);
    }
    std::ranges::sort(folders);
    folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
    std::vector<FolderLock> locks;
    for (const std::filesystem::path& folder : folders) {
        auto lock = FolderLock::acquire(folder, patience);
        if (!lock)
            return std::unexpected(lock.error());
        locks.push_back(std::move(*lock));
    }
    return locks;
}
