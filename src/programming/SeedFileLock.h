#pragma once

// The seed files' advisory lock (filelock/FolderLock.h) with the reasons the
// Messages panel shows. The lock is released when the object is destroyed.

#include "filelock/FolderLock.h"

#include <QString>

#include <chrono>
#include <expected>
#include <utility>

struct SeedFileLockError
{
    enum class Kind {
        CannotOpen, // the lock file cannot be created or opened
        Busy,       // another writer held the lock for the whole wait
        CannotLock, // the file system refuses flock
    };
    Kind kind;
    QString reason; // for the Messages panel, after "...: "
};

class SeedFileLock
{
public:
    static constexpr std::chrono::milliseconds kDefaultPatience = FolderLock::kDefaultPatience;

    // Takes the lock of the seed files in `directory`, waiting up to
    // `patience` while another writer holds it.
    static std::expected<SeedFileLock, SeedFileLockError>
    acquire(const QString& directory, std::chrono::milliseconds patience = kDefaultPatience);

private:
    explicit SeedFileLock(FolderLock lock) : m_lock(std::move(lock)) {}
    FolderLock m_lock;
};
