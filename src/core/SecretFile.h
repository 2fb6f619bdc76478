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
//
// A destination file is named relative to its folder held open
// (core/OpenFolder.h), so that renaming a folder on its path while the tool
// waits for the key cannot send a seed elsewhere.

#include "core/Error.h"

#include <cstddef>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace otp::core {

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

// A seed-holding file: `name` relative to the open folder `folder`, or a
// path (relative to the working folder) as it stands; `shown` names it in
// messages.
struct FileAt
{
    FileAt(const std::filesystem::path& path) : folder(AT_FDCWD), name(path.string()), shown(path)
    {
    }
    FileAt(int folderFd, std::string fileName, std::filesystem::path shownAs)
        : folder(folderFd), name(std::move(fileName)), shown(std::move(shownAs))
    {
    }
    FileAt with_suffix(std::string_view suffix) const
    {
        return FileAt(folder, name + std::string(suffix), shown.string() + std::string(suffix));
    }

    int folder;
    std::string name;
    std::filesystem::path shown;
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

// A file the user names as input that holds a secret or decides what is
// written (a seed, PIN, password or key file, a list of users), open as `fd`:
// refused, naming the file, when another account owns it or can write it, or
// can replace it through a folder above it, as OpenSSH refuses an
// authorized_keys file others can write. A terminal or a pipe passes.
OpResult<void> check_trusted_input(int fd, const std::filesystem::path& path);
// Such a file read as read_file does, once check_trusted_input passes.
OpResult<std::string> read_trusted_file(const std::filesystem::path& path, std::size_t limit);

// Refuses an existing seed-holding file that must not be written (see above),
// that every account can read (the next seed would be theirs too; a file one
// group may read is the administrator's choice and stays), or that its owner
// has made read-only; a missing one is fine. `othersMayRead` lets a file
// whose seeds are encrypted be read by all.
OpResult<void> check_private_file(const FileAt& file, bool othersMayRead = false);

// Whether the file exists (a link or a file of any kind), without following it.
OpResult<bool> file_exists(const FileAt& file);

// A seed-holding file's bytes, or nothing when there is no file.
OpResult<std::optional<std::string>> read_private_file(const FileAt& file, std::size_t limit);

// A seed-holding file opened for reading and writing, with its bytes, or
// nothing when there is no file.
struct UpdatableFile
{
    FileDescriptor fd;
    std::string bytes;
};
OpResult<std::optional<UpdatableFile>> open_private_for_update(const FileAt& file,
                                                               std::size_t limit);

// A seed-holding file opened for appending; created owner-only when missing.
struct AppendFile
{
    FileDescriptor fd;
    bool created = false;
};
OpResult<AppendFile> open_private_for_append(const FileAt& file);

// Replaces a seed-holding file atomically (see above). A new file is
// owner-only; a replaced one keeps its owner's permissions and the read
// permission of its group (an administrator's choice for a server's group),
// with that group; never any permission for others, nor write permission for
// the group.
OpResult<void> replace_private_file(const FileAt& file, std::string_view bytes);

// Removes the file; false with errno set.
bool remove_file(const FileAt& file);

} // namespace otp::core
