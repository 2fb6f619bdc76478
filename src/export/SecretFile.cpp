#include "export/SecretFile.h"

#include <fmt/format.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace pskc {
namespace {

std::unexpected<Error> io_error(const std::filesystem::path& path, std::string_view what, int error)
{
    return std::unexpected(Error{ErrorKind::Io, fmt::format("{}: cannot {} ({})", path.string(),
                                                            what, std::strerror(error))});
}

class Descriptor
{
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int get() const { return m_fd; }
    int release() { return std::exchange(m_fd, -1); }

private:
    int m_fd;
};

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

} // namespace

std::expected<std::string, Error> read_file(const std::filesystem::path& path, std::size_t limit)
{
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0)
        return io_error(path, "be read", errno);
    std::string bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t count = ::read(fd.get(), buffer, sizeof buffer);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            return io_error(path, "be read", errno);
        }
        if (count == 0)
            break;
        if (bytes.size() + static_cast<std::size_t>(count) > limit)
            return std::unexpected(
                Error{ErrorKind::InvalidInput,
                      fmt::format("{}: larger than {} bytes", path.string(), limit)});
        bytes.append(buffer, static_cast<std::size_t>(count));
    }
    return bytes;
}

std::expected<void, Error> replace_file(const std::filesystem::path& path, std::string_view bytes)
{
    const std::filesystem::path directory =
        path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    std::string temporary = (directory / ("." + path.filename().string() + ".XXXXXX")).string();
    // mkstemp creates the file 0600 before anything is written to it.
    Descriptor fd(::mkstemp(temporary.data()));
    if (fd.get() < 0)
        return io_error(temporary, "be created", errno);
    if (!write_all(fd.get(), bytes) || ::fsync(fd.get()) != 0 || ::close(fd.release()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        return io_error(path, "be written", error);
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        return io_error(path, "be replaced", error);
    }
    // The rename itself survives a crash only once the directory is synced.
    Descriptor dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0)
        ::fsync(dir.get());
    return {};
}

} // namespace pskc
