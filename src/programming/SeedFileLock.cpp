#include "programming/SeedFileLock.h"

#include <QFile>

#include <cstring>

namespace {

std::filesystem::path native(const QString& path)
{
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

QString errnoText(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

} // namespace

std::expected<SeedFileLock, SeedFileLockError>
SeedFileLock::acquire(const QString& directory, std::chrono::milliseconds patience)
{
    auto lock = FolderLock::acquire(native(directory), patience);
    if (lock)
        return SeedFileLock(std::move(*lock));
    using Kind = SeedFileLockError::Kind;
    switch (lock.error().kind) {
    case FolderLockError::Kind::CannotOpen:
        return std::unexpected(SeedFileLockError{
            Kind::CannotOpen, QStringLiteral("the lock file cannot be opened (%1)")
                                  .arg(errnoText(lock.error().error))});
    case FolderLockError::Kind::CannotLock:
        return std::unexpected(SeedFileLockError{
            Kind::CannotLock, QStringLiteral("the seed files cannot be locked (%1)")
                                  .arg(errnoText(lock.error().error))});
    case FolderLockError::Kind::Busy:
        break;
    }
    return std::unexpected(
        SeedFileLockError{Kind::Busy, QStringLiteral("another program is writing the seed files")});
}
