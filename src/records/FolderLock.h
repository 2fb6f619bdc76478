#pragma once

// The advisory lock that serialises every writer of the seed files in one
// folder: the XML and CSV files, and any PSKC container there. A writer takes
// it before it reads a file it is about to change and keeps it until the last
// file is written, so two running tools (or a tool and a script that honours
// the lock) never drop each other's tokens.
//
// The lock is an exclusive flock on ".seedfiles.lock" in the open folder
// (core/OpenFolder.h), which the caller has checked before: no lock file is
// made in a folder that is refused. It is created
// owner-only on first use and never deleted (deleting it would let a waiter
// lock a file that a newcomer no longer sees). flock belongs to the open file
// description, so two FolderLock objects exclude each other even within one
// process: a process must not take one folder's lock twice.

#include "core/Error.h"
#include "core/OpenFolder.h"

#include <chrono>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace otp::records {

class FolderLock
{
public:
    // How long a writer waits for another one to finish before it gives up;
    // writing even a very large seed file takes well under a second.
    static constexpr std::chrono::milliseconds kDefaultPatience{10'000};

    static std::filesystem::path lockFilePath(const std::filesystem::path& directory);

    // Takes the lock of `folder`, waiting up to `patience` while another
    // writer holds it. Fails with Io, naming the lock file: it cannot be
    // created or opened, the file system refuses flock, or another writer
    // held it for the whole wait.
    static core::OpResult<FolderLock>
    acquire(const core::OpenFolder& folder, std::chrono::milliseconds patience = kDefaultPatience);
    // The same for a folder opened unchecked by its path.
    static core::OpResult<FolderLock>
    acquire(const std::filesystem::path& directory,
            std::chrono::milliseconds patience = kDefaultPatience);

    FolderLock(FolderLock&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    FolderLock& operator=(FolderLock&&) = delete;
    FolderLock(const FolderLock&) = delete;
    ~FolderLock();

private:
    explicit FolderLock(int fd) : m_fd(fd) {}
    int m_fd;
};

// The locks of several open folders, each taken once however it is reached,
// in one order for every caller so that two of them cannot wait on each other.
core::OpResult<std::vector<FolderLock>>
acquire_folder_locks(std::span<const core::OpenFolder* const> folders,
                     std::chrono::milliseconds patience = FolderLock::kDefaultPatience);

// What a conversion holds while it reads its sources and writes its output:
// the output's folder, opened and checked (named `outName` in messages), the
// sources' folders, whose files it only reads and perhaps removes, and the
// locks of all of them. A refused output folder fails with Refused before any
// lock is taken.
struct ConversionFolders
{
    std::optional<core::OpenFolder> out;
    std::vector<core::OpenFolder> sources;
    std::vector<FolderLock> locks;
};
core::OpResult<ConversionFolders>
lock_conversion_folders(std::span<const std::filesystem::path> sources,
                        const std::filesystem::path& out, std::string outName,
                        std::chrono::milliseconds patience);

// The folder of one destination file (`what` names its kind in messages:
// "the PSKC file"), opened and checked, then locked; `file` names the file
// relative to the open folder.
struct LockedFileFolder
{
    core::OpenFolder folder;
    FolderLock lock;
    core::FileAt file;
};
core::OpResult<LockedFileFolder>
lock_file_folder(const std::filesystem::path& file, std::string_view what,
                 std::chrono::milliseconds patience = FolderLock::kDefaultPatience);

} // namespace otp::records
