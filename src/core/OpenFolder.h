#pragma once

// A folder that receives seed-holding files (the seed folder, the folder of a
// pam_oath users file or of a PSKC file), resolved once, checked, and held
// open while the tool works in it.
//
// Another account that can rename the folder, or any folder above it, can
// put a link or a folder of its own in its place while the tool waits for the
// key to be touched, and the seeds would go there. So every folder on the way
// from the root must belong to the user or to root and must not be writable
// by others, unless it is sticky and root's (as /tmp is: nobody but the owner
// of an entry can rename it there); the folder itself must be the user's or
// root's, writable by its owner and by nobody else. Its files are then
// created, replaced and locked relative to the open folder (FileAt), never by
// their path again.

#include "core/Error.h"
#include "core/SecretFile.h"

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <string_view>

namespace otp::core {

class OpenFolder
{
public:
    // Opens and checks `folder`. `name` is how messages call it, such as "the
    // seed folder /srv/seeds": each refusal begins with it and says what to do.
    static OpResult<OpenFolder> open(const std::filesystem::path& folder, std::string name);
    // Opens `folder` without checking it: one whose files are only read or
    // removed, never given a seed.
    static OpResult<OpenFolder> open_unchecked(const std::filesystem::path& folder);

    // The folder as it was found, without links or "..".
    const std::filesystem::path& path() const { return m_path; }
    const std::string& name() const { return m_name; }
    int fd() const { return m_fd.get(); }
    // One file in it; `shown` in messages is the path the user gave.
    FileAt file(std::string fileName, const std::filesystem::path& shown) const
    {
        return FileAt(m_fd.get(), std::move(fileName), shown);
    }
    bool same_folder(const OpenFolder& other) const
    {
        return m_device == other.m_device && m_inode == other.m_inode;
    }

private:
    OpenFolder(FileDescriptor fd, std::filesystem::path path, std::string name, dev_t device,
               ino_t inode)
        : m_fd(std::move(fd)), m_path(std::move(path)), m_name(std::move(name)), m_device(device),
          m_inode(inode)
    {
    }

    FileDescriptor m_fd;
    std::filesystem::path m_path;
    std::string m_name;
    dev_t m_device;
    ino_t m_inode;
};

// Refuses when a folder from the root down to `folder` (an absolute path
// without links) could be renamed by another account: each must belong to the
// user or root and be writable by nobody else, unless sticky and root's.
// `what` names what lies inside, for the message.
OpResult<void> check_folders_above(const std::filesystem::path& folder, std::string_view what);

// The folder of a file's path ("." for a bare name).
std::filesystem::path folder_of(const std::filesystem::path& file);

} // namespace otp::core
