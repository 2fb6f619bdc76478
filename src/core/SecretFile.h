#pragma once

// Files that hold secrets, and the files a user names as input.
//
// A file that receives seeds (the seed files, a PSKC container, a pam_oath
// users file) may sit in a folder that others can reach, where anyone could
// plant a link or a file of their own under its name for us to write a seed
// into. So such a file is opened without following links and refused, with
// a message that names it, when it is not a regular file, belongs to another
// account, has more than one link, or can be written by group or others. A
// replaced file is written to a temporary file beside it that is owner-only
// from its creation, synced and renamed over the old one, so a reader sees
// the old file or the new one and never a part, and a crash leaves the old
// file whole; it never gets more permission than the file it replaces.

#include "core/Error.h"

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

// An open file descriptor, closed when it goes away.
class FileDescriptor
{
public:
    explicit FileDescriptor(int fd = -1) : m_fd(fd) {}
    FileDescriptor(FileDescriptor&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept;
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor();

    int get() const { return m_fd; }
    int release() { return std::exchange(m_fd, -1); }
    explicit operator bool() const { return m_fd >= 0; }

private:
    int m_fd;
};

// Writes every byte, retrying after interruptions; false with errno set.
bool write_all(int fd, std::string_view bytes);

// A file the user names as input (a seed, PIN, password or key file): read
// whole, following links as the user means them. Refused when larger than
// `limit` bytes, which also ends an endless device such as /dev/zero, and
// when it is a folder. The buffers the bytes passed through are wiped, so a
// secret read here is left nowhere but in the answer.
OpResult<std::string> read_file(const std::filesystem::path& path, std::size_t limit);

// The first line of what `fd` delivers (standard input), without its line
// end, read byte by byte so that nothing after it is taken from a shared
// stream. Refused when the line is longer than `limit` bytes; `name` names
// the input in messages.
OpResult<std::string> read_first_line(int fd, std::string_view name, std::size_t limit);

// True when a file the user names as a secret (a PIN, password or key file)
// can be read by group or others: worth a warning, as anyone who can read it
// holds the secret.
bool others_can_read(const std::filesystem::path& path);

// Refuses a folder that group or others can write, naming it and the fix.
OpResult<void> check_private_folder(const std::filesystem::path& folder);

// Refuses an existing seed-holding file that must not be written (see above);
// a missing one is fine.
OpResult<void> check_private_file(const std::filesystem::path& path);

// A seed-holding file's bytes, or nothing when there is no file.
OpResult<std::optional<std::string>> read_private_file(const std::filesystem::path& path,
                                                       std::size_t limit);

// A seed-holding file opened for reading and writing, with its bytes, or
// nothing when there is no file.
struct UpdatableFile
{
    FileDescriptor fd;
    std::string bytes;
};
OpResult<std::optional<UpdatableFile>> open_private_for_update(const std::filesystem::path& path,
                                                               std::size_t limit);

// A seed-holding file opened for appending; created owner-only when missing.
struct AppendFile
{
    FileDescriptor fd;
    bool created = false;
};
OpResult<AppendFile> open_private_for_append(const std::filesystem::path& path);

// Replaces a seed-holding file atomically (see above). A new file is
// owner-only; a replaced one keeps its permissions but never write
// permission for group or others, unless `asNew`: a file that held nothing
// yet (an empty one) becomes owner-only like a new one.
OpResult<void> replace_private_file(const std::filesystem::path& path, std::string_view bytes,
                                    bool asNew = false);
