#include "programming/SeedFileLock.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

namespace {

QString errnoText(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

} // namespace

QString SeedFileLock::lockFilePath(const QString& directory)
{
    return QDir(directory).filePath(QStringLiteral(".seedfiles.lock"));
}

std::expected<SeedFileLock, SeedFileLockError>
SeedFileLock::acquire(const QString& directory, std::chrono::milliseconds patience)
{
    using Kind = SeedFileLockError::Kind;
    const QByteArray path = QFile::encodeName(lockFilePath(directory));
    // O_NOFOLLOW: a link planted in a shared folder must not make us create
    // or lock a file elsewhere.
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return std::unexpected(SeedFileLockError{
            Kind::CannotOpen,
            QStringLiteral("the lock file cannot be opened (%1)").arg(errnoText(errno))});

    // Polled rather than blocking, so that a writer that hangs while holding
    // the lock costs the user one failure message instead of a frozen window.
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        if (err == EINTR)
            continue;
        if (err != EWOULDBLOCK) {
            ::close(fd);
            return std::unexpected(SeedFileLockError{
                Kind::CannotLock,
                QStringLiteral("the seed files cannot be locked (%1)").arg(errnoText(err))});
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            ::close(fd);
            return std::unexpected(SeedFileLockError{
                Kind::Busy, QStringLiteral("another program is writing the seed files")});
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return SeedFileLock(fd);
}

SeedFileLock::~SeedFileLock()
{
    if (m_fd >= 0)
        ::close(m_fd); // closing the descriptor releases the flock
}
