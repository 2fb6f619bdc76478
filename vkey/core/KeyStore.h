#pragma once

// The key directory: one <SERIAL>.json per key, plugged/<SERIAL> markers
// that exist exactly while a key is plugged in (each plug writes a marker with
// new content, its generation), and a lock file that every
// process takes before it reads a key to change it.

#include "Failure.h"
#include "KeyState.h"

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace vkey {

// Where keys live: $VN_KEY_DIR, else $XDG_STATE_HOME/vnkey/keys, else
// $HOME/.local/state/vnkey/keys.
Result<std::filesystem::path> keyDirFromEnvironment();

// Exclusive flock on <dir>/.lock, released when destroyed.
class DirLock
{
public:
    DirLock(DirLock&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    DirLock& operator=(DirLock&&) = delete;
    ~DirLock();

private:
    friend class KeyStore;
    explicit DirLock(int fd) : m_fd(fd) {}
    int m_fd;
};

class KeyStore
{
public:
    explicit KeyStore(std::filesystem::path dir) : m_dir(std::move(dir)) {}

    const std::filesystem::path& dir() const { return m_dir; }
    std::filesystem::path keyFile(const std::string& serial) const;
    std::filesystem::path pluggedDir() const { return m_dir / "plugged"; }
    std::filesystem::path touchFile(const std::string& serial) const;

    Result<DirLock> lock() const;

    // The calls below expect the caller to hold lock() when they change or
    // read-to-change a key.
    bool exists(const std::string& serial) const;
    std::vector<std::string> keys() const;    // sorted serials
    std::vector<std::string> plugged() const; // sorted serials of plugged keys with a key file
    bool isPlugged(const std::string& serial) const;

    Result<KeyState> load(const std::string& serial) const;
    // Writes a temporary file (owner-only from its creation), syncs it and
    // renames it over the key file, so readers see the old or the new key.
    Result<void> save(const KeyState& key) const;
    // Refuses to replace an existing key file, damaged or not.
    Result<void> create(const KeyState& key) const;
    Result<void> plug(const std::string& serial) const;
    Result<void> unplug(const std::string& serial) const;
    Result<void> remove(const std::string& serial) const;

    // Drops a touch for the key (temporary file, then rename).
    Result<void> touch(const std::string& serial) const;

private:
    Result<void> writeAtomically(const std::filesystem::path& target, const std::string& content,
                                 bool exclusive) const;
    std::filesystem::path m_dir;
};

// A serial "VT" + 8 random digits: short enough that the program's token
// proposals (key serial + two digits) fit a 13-character token serial.
std::string randomKeySerial();

// If dir does not exist yet, creates it (0700) holding one plugged-in key in
// hardware PIN mode with auto touch. Two processes racing here end with one
// directory and one key: it is built beside dir and renamed into place.
Result<void> ensureKeyDir(const std::filesystem::path& dir);

} // namespace vkey
