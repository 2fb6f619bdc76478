#include "core/SecretFile.h"

#include "core/Secret.h"

#include <fmt/format.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::unexpected<OpError> io_error(const std::filesystem::path& path, std::string_view what,
                                  int error)
{
    return fail(Fault::Io,
                fmt::format("{}: cannot {} ({})", path.string(), what, std::strerror(error)));
}

std::filesystem::path folder_of(const std::filesystem::path& path)
{
    return path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
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
OpResult<FileDescriptor> open_private(const std::filesystem::path& path, int flags, bool& missing)
{
    missing = false;
    FileDescriptor fd(::open(path.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
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

OpResult<void> check_private_folder(const std::filesystem::path& folder)
{
    struct stat st = {};
    if (::stat(folder.c_str(), &st) != 0)
        return fail(Fault::Refused, fmt::format("the seed folder {} cannot be used ({})",
                                                folder.string(), std::strerror(errno)));
    if (!S_ISDIR(st.st_mode))
        return fail(Fault::Refused,
                    fmt::format("the seed folder {} is not a folder", folder.string()));
    if (st.st_mode & (S_IWGRP | S_IWOTH))
        return fail(Fault::Refused,
                    fmt::format("the seed folder {} can be written by other accounts, who could "
                                "read the seeds through files they plant there; choose a folder "
                                "only you can write, or make this one yours alone "
                                "(chmod go-w {})",
                                folder.string(), folder.string()));
    if (::access(folder.c_str(), W_OK | X_OK) != 0)
        return fail(Fault::Refused, fmt::format("the seed folder {} cannot be written ({})",
                                                folder.string(), std::strerror(errno)));
    return {};
}

OpResult<void> check_private_file(const std::filesystem::path& path)
{
    struct stat st = {};
    if (::lstat(path.c_str(), &st) != 0)
        return errno == ENOENT ? OpResult<void>() : io_error(path, "be examined", errno);
    if (S_ISLNK(st.st_mode))
        return refused_file(path, "is a symbolic link");
    if (const std::string why = unsafe_because(st); !why.empty())
        return refused_file(path, why);
    return {};
}

OpResult<std::optional<std::string>> read_private_file(const std::filesystem::path& path,
                                                       std::size_t limit)
{
    bool missing = false;
    auto fd = open_private(path, O_RDONLY, missing);
    if (!fd)
        return std::unexpected(fd.error());
    if (missing)
        return std::optional<std::string>();
    auto bytes = read_all(fd->get(), path, limit);
    if (!bytes)
        return std::unexpected(bytes.error());
    return std::optional<std::string>(std::move(*bytes));
}

OpResult<std::optional<UpdatableFile>> open_private_for_update(const std::filesystem::path& path,
                                                               std::size_t limit)
{
    bool missing = false;
    auto fd = open_private(path, O_RDWR, missing);
    if (!fd)
        return std::unexpected(fd.error());
    if (missing)
        return std::optional<UpdatableFile>();
    auto bytes = read_all(fd->get(), path, limit);
    if (!bytes)
        return std::unexpected(bytes.error());
    return std::optional<UpdatableFile>(UpdatableFile{std::move(*fd), std::move(*bytes)});
}

OpResult<AppendFile> open_private_for_append(const std::filesystem::path& path)
{
    // O_EXCL first, so that "created" is known for certain: a new file gets
    // its header line, an existing one (even an empty one) does not.
    FileDescriptor fd(::open(
        path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (fd)
        return AppendFile{std::move(fd), true};
    if (errno != EEXIST)
        return errno == ELOOP ? refused_file(path, "is a symbolic link")
                              : io_error(path, "be created", errno);
    bool missing = false;
    auto existing = open_private(path, O_WRONLY | O_APPEND, missing);
    if (!existing)
        return std::unexpected(existing.error());
    if (missing) // removed between the two opens
        return io_error(path, "be opened", ENOENT);
    return AppendFile{std::move(*existing), false};
}

OpResult<void> replace_private_file(const std::filesystem::path& path, std::string_view bytes,
                                    bool asNew)
{
    mode_t mode = S_IRUSR | S_IWUSR;
    struct stat old = {};
    if (::lstat(path.c_str(), &old) == 0) {
        if (S_ISLNK(old.st_mode))
            return refused_file(path, "is a symbolic link");
        if (const std::string why = unsafe_because(old); !why.empty())
            return refused_file(path, why);
        if (!asNew)
            mode = old.st_mode & 0777 & ~static_cast<mode_t>(S_IWGRP | S_IWOTH);
    } else if (errno != ENOENT) {
        return io_error(path, "be examined", errno);
    }

    const std::filesystem::path directory = folder_of(path);
    std::string temporary = (directory / ("." + path.filename().string() + ".XXXXXX")).string();
    // mkstemp creates the file 0600 before anything is written to it.
    FileDescriptor fd(::mkstemp(temporary.data()));
    if (!fd)
        return io_error(temporary, "be created", errno);
    if (::fchmod(fd.get(), mode) != 0 || !write_all(fd.get(), bytes) || ::fsync(fd.get()) != 0 ||
        ::close(fd.release()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        return io_error(path, "be written", error);
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        return io_error(path, "be replaced", error);
    }
    return {};
}
