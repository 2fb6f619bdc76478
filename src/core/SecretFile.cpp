#include "core/SecretFile.h"

#include "core/OpenFolder.h"
#include "core/Secret.h"

#include <fmt/format.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace otp::core {

namespace {

std::unexpected<OpError> io_error(const std::filesystem::path& path, std::string_view what,
                                  int error)
{
    return fail(Fault::Io,
                fmt::format("{}: cannot {} ({})", path.string(), what, std::strerror(error)));
}

// The folder part of a file's name relative to its open folder ("" for none).
std::string folder_part(const std::string& name)
{
    const auto slash = name.rfind('/');
    return slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
}

// Why a seed-holding file must not be written or trusted; empty when it may.
std::string unsafe_because(const struct stat& st)
{
    if (!S_ISREG(st.st_mode))
        return "is not a regular file";
    if (st.st_uid != ::geteuid())
        return "belongs to another account";
    if (st.st_nlink != 1)
        return "has more than one link";
    if (st.st_mode & (S_IWGRP | S_IWOTH))
        return "can be written by other accounts";
    return {};
}

std::unexpected<OpError> refused_file(const std::filesystem::path& path, std::string_view why)
{
    return fail(
        Fault::Refused,
        fmt::format("{}: {}; it is left alone, and no seed is written to it", path.string(), why));
}

// Opens without following a link; a planted FIFO must not block us either.
OpResult<FileDescriptor> open_private(const FileAt& file, int flags, bool& missing)
{
    const std::filesystem::path& path = file.shown;
    missing = false;
    FileDescriptor fd(::openat(file.folder, file.name.c_str(),
                               flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
    if (!fd) {
        const int error = errno;
        if (error == ENOENT && !(flags & O_CREAT)) {
            missing = true;
            return FileDescriptor();
        }
        if (error == ELOOP)
            return refused_file(path, "is a symbolic link");
        return io_error(path, "be opened", error);
    }
    struct stat st = {};
    if (::fstat(fd.get(), &st) != 0)
        return io_error(path, "be examined", errno);
    if (const std::string why = unsafe_because(st); !why.empty())
        return refused_file(path, why);
    return fd;
}

// Appends to `bytes`; when that needs a larger buffer, the old one is wiped
// before it is freed, so that no copy of a secret is left in the heap.
void append_wiping(std::string& bytes, const char* data, std::size_t count)
{
    if (bytes.size() + count > bytes.capacity()) {
        std::string larger;
        larger.reserve(std::max(2 * bytes.capacity(), bytes.size() + count));
        larger.assign(bytes);
        wipe(bytes.data(), bytes.capacity());
        bytes.swap(larger);
    }
    bytes.append(data, count);
}

OpResult<std::string> too_large(std::string_view name, std::string_view what, std::size_t limit,
                                std::string& bytes)
{
    wipe(bytes.data(), bytes.capacity());
    return fail(Fault::Refused, fmt::format("{}: {} longer than {} bytes", name, what, limit));
}

OpResult<std::string> read_all(int fd, const std::filesystem::path& path, std::size_t limit)
{
    std::string bytes;
    // A file's whole size at once: seed files of many thousand tokens would
    // otherwise be copied and wiped once for every doubling of the buffer.
    struct stat st = {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
        bytes.reserve(std::min(static_cast<std::size_t>(st.st_size), limit) + 1);
    char buffer[16384];
    OpResult<std::string> result;
    for (;;) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            result = io_error(path, "be read", errno);
            break;
        }
        if (count == 0) {
            result = std::move(bytes);
            break;
        }
        if (bytes.size() + static_cast<std::size_t>(count) > limit) {
            result = too_large(path.string(), "is", limit, bytes);
            break;
        }
        append_wiping(bytes, buffer, static_cast<std::size_t>(count));
    }
    wipe(buffer, sizeof buffer);
    // A short text sits inside the string object; the move copies it.
    wipe(bytes.data(), bytes.capacity());
    return result;
}

} // namespace

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

FileDescriptor::~FileDescriptor()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool write_all(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

OpResult<std::string> read_file(const std::filesystem::path& path, std::size_t limit)
{
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd)
        return io_error(path, "be read", errno);
    struct stat st = {};
    if (::fstat(fd.get(), &st) == 0 && S_ISDIR(st.st_mode))
        return fail(Fault::Refused, fmt::format("{}: is a folder, not a file", path.string()));
    return read_all(fd.get(), path, limit);
}

OpResult<std::string> read_first_line(int fd, std::string_view name, std::size_t limit)
{
    std::string line;
    char c = 0;
    for (;;) {
        const ssize_t count = ::read(fd, &c, 1);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0) {
            const int error = errno;
            wipe(line.data(), line.capacity());
            return fail(Fault::Io,
                        fmt::format("{}: cannot be read ({})", name, std::strerror(error)));
        }
        if (count == 0 || c == '\n')
            break;
        if (line.size() == limit)
            return too_large(name, "its first line is", limit, line);
        append_wiping(line, &c, 1);
    }
    wipe(&c, 1);
    if (line.ends_with('\r'))
        line.pop_back();
    // A short line sits inside the string object; the move copies it.
    OpResult<std::string> result(std::move(line));
    wipe(line.data(), line.capacity());
    return result;
}

bool others_can_read(const std::filesystem::path& path)
{
    struct stat st = {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           (st.st_mode & (S_IRGRP | S_IROTH));
}

OpResult<void> check_trusted_input(int fd, const std::filesystem::path& path)
{
    struct stat st = {};
    if (::fstat(fd, &st) != 0)
        return io_error(path, "be examined", errno);
    const auto refused = [&](std::string why) {
        return fail(Fault::Refused,
                    fmt::format("{}: {}, who could change what it holds; it is not read. Use a "
                                "file only you can write (chmod go-w {}), in a folder only you "
                                "can write.",
                                path.string(), why, path.string()));
    };
    if (st.st_uid != ::geteuid() && st.st_uid != 0)
        return refused(fmt::format("belongs to another account (uid {})", st.st_uid));
    // Only a file on disk can be changed later; a terminal or a pipe
    // (standard input, a process substitution) is the user's own.
    if (!S_ISREG(st.st_mode))
        return {};
    if (st.st_mode & (S_IWGRP | S_IWOTH))
        return refused("can be written by other accounts");
    char real[PATH_MAX];
    if (::realpath(path.c_str(), real) == nullptr)
        return io_error(path, "be examined", errno);
    return check_folders_above(std::filesystem::path(real).parent_path(), path.string());
}

OpResult<std::string> read_trusted_file(const std::filesystem::path& path, std::size_t limit)
{
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd)
        return io_error(path, "be read", errno);
    struct stat st = {};
    if (::fstat(fd.get(), &st) == 0 && S_ISDIR(st.st_mode))
        return fail(Fault::Refused, fmt::format("{}: is a folder, not a file", path.string()));
    if (auto trusted = check_trusted_input(fd.get(), path); !trusted)
        return std::unexpected(trusted.error());
    // Blocking again: a pipe is read to its end.
    if (const int flags = ::fcntl(fd.get(), F_GETFL); flags >= 0)
        ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
    return read_all(fd.get(), path, limit);
}

OpResult<void> check_private_file(const FileAt& file, bool othersMayRead)
{
    const std::filesystem::path& path = file.shown;
    struct stat st = {};
    if (::fstatat(file.folder, file.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? OpResult<void>() : io_error(path, "be examined", errno);
    if (S_ISLNK(st.st_mode))
        return refused_file(path, "is a symbolic link");
    if (const std::string why = unsafe_because(st); !why.empty())
        return refused_file(path, why);
    if (!othersMayRead && (st.st_mode & S_IROTH))
        return fail(Fault::Refused,
                    fmt::format("{}: can be read by every account, and so could the seed of the "
                                "next token; it is left alone, and no seed is written to it. Make "
                                "it readable by you alone (chmod o-r {}, or chmod 600 {}) and try "
                                "again.",
                                path.string(), path.string(), path.string()));
    if (!(st.st_mode & S_IWUSR))
        return fail(Fault::Refused,
                    fmt::format("{}: is read-only (mode {:04o}); it is left alone, and no seed is "
                                "written to it. Make it writable (chmod u+w {}) or choose another "
                                "file, and try again.",
                                path.string(), st.st_mode & 07777, path.string()));
    return {};
}

OpResult<bool> file_exists(const FileAt& file)
{
    struct stat st = {};
    if (::fstatat(file.folder, file.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
        return true;
    if (errno == ENOENT)
        return false;
    return io_error(file.shown, "be examined", errno);
}

OpResult<std::optional<std::string>> read_private_file(const FileAt& file, std::size_t limit)
{
    const std::filesystem::path& path = file.shown;
    bool missing = false;
    auto fd = open_private(file, O_RDONLY, missing);
    if (!fd)
        return std::unexpected(fd.error());
    if (missing)
        return std::optional<std::string>();
    auto bytes = read_all(fd->get(), path, limit);
    if (!bytes)
        return std::unexpected(bytes.error());
    return std::optional<std::string>(std::move(*bytes));
}

OpResult<std::optional<UpdatableFile>> open_private_for_update(const FileAt& file,
                                                               std::size_t limit)
{
    const std::filesystem::path& path = file.shown;
    bool missing = false;
    auto fd = open_private(file, O_RDWR, missing);
    if (!fd)
        return std::unexpected(fd.error());
    if (missing)
        return std::optional<UpdatableFile>();
    auto bytes = read_all(fd->get(), path, limit);
    if (!bytes)
        return std::unexpected(bytes.error());
    return std::optional<UpdatableFile>(UpdatableFile{std::move(*fd), std::move(*bytes)});
}

OpResult<AppendFile> open_private_for_append(const FileAt& file)
{
    const std::filesystem::path& path = file.shown;
    // O_EXCL first, so that "created" is known for certain: a new file gets
    // its header line, an existing one (even an empty one) does not.
    FileDescriptor fd(::openat(file.folder, file.name.c_str(),
                               O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                               0600));
    if (fd)
        return AppendFile{std::move(fd), true};
    if (errno != EEXIST)
        return errno == ELOOP ? refused_file(path, "is a symbolic link")
                              : io_error(path, "be created", errno);
    bool missing = false;
    auto existing = open_private(file, O_WRONLY | O_APPEND, missing);
    if (!existing)
        return std::unexpected(existing.error());
    if (missing) // removed between the two opens
        return io_error(path, "be opened", ENOENT);
    return AppendFile{std::move(*existing), false};
}

OpResult<void> replace_private_file(const FileAt& file, std::string_view bytes)
{
    const std::filesystem::path& path = file.shown;
    mode_t mode = S_IRUSR | S_IWUSR;
    std::optional<gid_t> group;
    struct stat old = {};
    if (::fstatat(file.folder, file.name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISLNK(old.st_mode))
            return refused_file(path, "is a symbolic link");
        if (const std::string why = unsafe_because(old); !why.empty())
            return refused_file(path, why);
        mode = old.st_mode & (S_IRWXU | S_IRGRP);
        if (mode & S_IRGRP)
            group = old.st_gid;
    } else if (errno != ENOENT) {
        return io_error(path, "be examined", errno);
    }

    // Created 0600 before anything is written to it, under a name nobody
    // else can guess in time to plant something there.
    FileDescriptor fd;
    std::string temporary;
    for (int attempt = 0; !fd && attempt < 100; ++attempt) {
        uint64_t random = 0;
        if (::getrandom(&random, sizeof random, 0) != static_cast<ssize_t>(sizeof random))
            return io_error(path, "be replaced", errno);
        const std::string base = file.name.substr(folder_part(file.name).size());
        temporary = fmt::format("{}.{}.{:016x}", folder_part(file.name), base, random);
        fd = FileDescriptor(::openat(file.folder, temporary.c_str(),
                                     O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!fd && errno != EEXIST)
            return io_error(path.string() + " (its temporary copy)", "be created", errno);
    }
    if (!fd)
        return io_error(path.string() + " (its temporary copy)", "be created", EEXIST);
    // The group the administrator gave the file, or none: a replacement's own
    // group (ours) may be one that must not read the seeds.
    if (group && ::fchown(fd.get(), static_cast<uid_t>(-1), *group) != 0)
        mode &= ~static_cast<mode_t>(S_IRGRP);
    if (::fchmod(fd.get(), mode) != 0 || !write_all(fd.get(), bytes) || ::fsync(fd.get()) != 0 ||
        ::close(fd.release()) != 0) {
        const int error = errno;
        ::unlinkat(file.folder, temporary.c_str(), 0);
        return io_error(path, "be written", error);
    }
    if (::renameat(file.folder, temporary.c_str(), file.folder, file.name.c_str()) != 0) {
        const int error = errno;
        ::unlinkat(file.folder, temporary.c_str(), 0);
        return io_error(path, "be replaced", error);
    }
    return {};
}

bool remove_file(const FileAt& file)
{
    return ::unlinkat(file.folder, file.name.c_str(), 0) == 0;
}

} // namespace otp::core
