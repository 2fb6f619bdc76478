#pragma once

// The advisory lock that serialises every writer of the seed files in one
// folder: the XML and CSV files, and the PSKC container beside them. A writer
// takes it before it reads a file it is about to change and keeps it until
// the last file is written, so two running tools (or a tool and a script that
// honours the lock) never drop each other's tokens.
//
// The lock is an exclusive flock on ".seedfiles.lock" in the seed folder,
// created owner-only on first use and never deleted (deleting it would let a
// waiter lock a file that a newcomer no longer sees). flock belongs to the
// open file description, so two SeedFileLock objects exclude each other even
// within one process. The lock is released when the object is destroyed.

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
    // How long a writer waits for another one to finish before it gives up;
    // writing even a very large seed file takes well under a second.
    static constexpr std::chrono::milliseconds kDefaultPatience{10'000};

    // Takes the lock of the seed files in `directory`, waiting up to
    // `patience` while another writer holds it.
    static std::expected<SeedFileLock, SeedFileLockError>
    acquire(const QString& directory, std::chrono::milliseconds patience = kDefaultPatience);

    static QString lockFilePath(const QString& directory);

    SeedFileLock(SeedFileLock&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    SeedFileLock& operator=(SeedFileLock&&) = delete;
    SeedFileLock(const SeedFileLock&) = delete;
    ~SeedFileLock();

private:
    explicit SeedFileLock(int fd) : m_fd(fd) {}
    int m_fd;
};
