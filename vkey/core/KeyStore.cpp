#include "KeyStore.h"

#include <openssl/rand.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace vkey {

namespace {

std::string errnoText(int err)
{
    return std::strerror(err);
}

Failure storageFailure(const std::string& what, int err)
{
    return Failure{VN_ERR_STORAGE, what + ": " + errnoText(err)};
}

std::string envOrEmpty(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

// Best effort: makes a rename durable. A failure here loses nothing that the
// rename itself did not already guarantee to other processes.
void syncDirectory(const fs::path& dir)
{
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

bool ensurePrivateDir(const fs::path& dir, int* err)
{
    if (::mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST)
        return true;
    *err = errno;
    return false;
}

} // namespace

Result<fs::path> keyDirFromEnvironment()
{
    if (std::string dir = envOrEmpty("VN_KEY_DIR"); !dir.empty())
        return fs::path(dir);
    if (std::string state = envOrEmpty("XDG_STATE_HOME"); !state.empty())
        return fs::path(state) / "vnkey" / "keys";
    if (std::string home = envOrEmpty("HOME"); !home.empty())
        return fs::path(home) / ".local" / "state" / "vnkey" / "keys";
    return fail(VN_ERR_STORAGE, "no key directory: set VN_KEY_DIR or HOME");
}

DirLock::~DirLock()
{
    if (m_fd >= 0)
        ::close(m_fd); // closing the descriptor releases the flock
}

fs::path KeyStore::keyFile(const std::string& serial) const
{
    return m_dir / (serial + ".json");
}

fs::path KeyStore::touchFile(const std::string& serial) const
{
    return m_dir / (serial + ".touch");
}

Result<DirLock> KeyStore::lock() const
{
    fs::path path = m_dir / ".lock";
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return std::unexpected(storageFailure("cannot open " + path.string(), errno));
    while (::flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            int err = errno;
            ::close(fd);
            return std::unexpected(storageFailure("cannot lock " + path.string(), err));
        }
    }
    return DirLock(fd);
}

bool KeyStore::exists(const std::string& serial) const
{
    std::error_code ec;
    return isValidKeySerial(serial) && fs::is_regular_file(keyFile(serial), ec);
}

std::vector<std::string> KeyStore::keys() const
{
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(m_dir, ec)) {
        const fs::path& p = entry.path();
        if (p.extension() == ".json" && isValidKeySerial(p.stem().string()) &&
            entry.is_regular_file(ec))
            out.push_back(p.stem().string());
    }
    std::ranges::sort(out);
    return out;
}

std::vector<std::string> KeyStore::plugged() const
{
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(pluggedDir(), ec)) {
        // Temporary marker files start with a dot and are not valid serials.
        std::string name = entry.path().filename().string();
        if (exists(name))
            out.push_back(name);
    }
    std::ranges::sort(out);
    return out;
}

bool KeyStore::isPlugged(const std::string& serial) const
{
    std::error_code ec;
    return exists(serial) && fs::exists(pluggedDir() / serial, ec);
}

Result<KeyState> KeyStore::load(const std::string& serial) const
{
    if (!isValidKeySerial(serial))
        return fail(VN_ERR_INVALID_ARGUMENT, "'" + serial + "' is not a valid key serial");
    fs::path path = keyFile(serial);
    if (!exists(serial))
        return fail(VN_ERR_STORAGE, "no key " + serial);
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return fail(VN_ERR_STORAGE, "cannot read " + path.string());
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad())
        return fail(VN_ERR_STORAGE, "cannot read " + path.string());
    auto key = fromJson(text.str());
    if (!key) {
        key.error().what = path.string() + ": " + key.error().what;
        return key;
    }
    if (key->serial != serial)
        return fail(VN_ERR_CORRUPT_KEY, path.string() + ": holds key " + key->serial);
    return key;
}

Result<void> KeyStore::writeAtomically(const fs::path& target, const std::string& content,
                                       bool exclusive) const
{
    std::string tmpl = (target.parent_path() / ("." + target.filename().string() + ".XXXXXX"));
    // mkstemp creates the file 0600: nothing secret is ever readable by others.
    int fd = ::mkstemp(tmpl.data());
    if (fd < 0)
        return std::unexpected(
            storageFailure("cannot create a file in " + target.parent_path().string(), errno));
    auto abandon = [&](const std::string& what, int err) {
        ::close(fd);
        ::unlink(tmpl.c_str());
        return std::unexpected(storageFailure(what, err));
    };
    if (::fchmod(fd, 0600) != 0)
        return abandon("cannot protect " + tmpl, errno);
    std::size_t done = 0;
    while (done < content.size()) {
        ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return abandon("cannot write " + tmpl, n < 0 ? errno : EIO);
        done += static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0)
        return abandon("cannot sync " + tmpl, errno);
    if (::close(fd) != 0) {
        int err = errno;
        ::unlink(tmpl.c_str());
        return std::unexpected(storageFailure("cannot close " + tmpl, err));
    }
    if (exclusive) {
        // link() never replaces: a key that already exists is kept as it is.
        int rc = ::link(tmpl.c_str(), target.c_str());
        int err = errno;
        ::unlink(tmpl.c_str());
        if (rc != 0)
            return std::unexpected(storageFailure("cannot create " + target.string(), err));
    } else if (::rename(tmpl.c_str(), target.c_str()) != 0) {
        int err = errno;
        ::unlink(tmpl.c_str());
        return std::unexpected(storageFailure("cannot replace " + target.string(), err));
    }
    syncDirectory(target.parent_path());
    return {};
}

Result<void> KeyStore::save(const KeyState& key) const
{
    return writeAtomically(keyFile(key.serial), toJson(key), false);
}

Result<void> KeyStore::create(const KeyState& key) const
{
    if (!isValidKeySerial(key.serial))
        return fail(VN_ERR_INVALID_ARGUMENT, "'" + key.serial + "' is not a valid key serial");
    std::error_code ec;
    if (fs::exists(keyFile(key.serial), ec))
        return fail(VN_ERR_DUPLICATE_SERIAL, "key " + key.serial + " already exists");
    return writeAtomically(keyFile(key.serial), toJson(key), true);
}

namespace {

std::string plugGeneration()
{
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    uint64_t nonce = 0;
    (void)RAND_bytes(reinterpret_cast<unsigned char*>(&nonce), sizeof nonce);
    return std::to_string(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()) + "-" +
           std::to_string(nonce);
}

} // namespace

Result<void> KeyStore::plug(const std::string& serial) const
{
    if (!exists(serial))
        return fail(VN_ERR_NO_DEVICE, "no key " + serial);
    int err = 0;
    if (!ensurePrivateDir(pluggedDir(), &err))
        return std::unexpected(storageFailure("cannot create " + pluggedDir().string(), err));
    // A key that is in stays in: replacing its marker would read as a pull
    // and a new plug.
    std::error_code ec;
    if (fs::exists(pluggedDir() / serial, ec))
        return {};
    // Rename makes the marker appear in one step for the hot-plug watcher. Its
    // content is new on every plug, so a pull and a plug of the same key
    // between two looks of the watcher still differ from the marker it knew.
    return writeAtomically(pluggedDir() / serial, plugGeneration(), false);
}

Result<void> KeyStore::unplug(const std::string& serial) const
{
    if (!isValidKeySerial(serial))
        return fail(VN_ERR_INVALID_ARGUMENT, "'" + serial + "' is not a valid key serial");
    fs::path marker = pluggedDir() / serial;
    if (::unlink(marker.c_str()) != 0 && errno != ENOENT)
        return std::unexpected(storageFailure("cannot remove " + marker.string(), errno));
    return {};
}

Result<void> KeyStore::remove(const std::string& serial) const
{
    if (!exists(serial))
        return fail(VN_ERR_NO_DEVICE, "no key " + serial);
    if (auto r = unplug(serial); !r)
        return r;
    ::unlink(touchFile(serial).c_str());
    if (::unlink(keyFile(serial).c_str()) != 0)
        return std::unexpected(storageFailure("cannot remove " + keyFile(serial).string(), errno));
    syncDirectory(m_dir);
    return {};
}

Result<void> KeyStore::touch(const std::string& serial) const
{
    if (!exists(serial))
        return fail(VN_ERR_NO_DEVICE, "no key " + serial);
    return writeAtomically(touchFile(serial), "", false);
}

std::string randomKeySerial()
{
    uint64_t value = 0;
    if (RAND_bytes(reinterpret_cast<unsigned char*>(&value), sizeof value) != 1)
        value = static_cast<uint64_t>(::getpid()) * 2654435761u ^
                static_cast<uint64_t>(::time(nullptr));
    std::string digits = std::to_string(value % 100000000u);
    return "VT" + std::string(8 - digits.size(), '0') + digits;
}

Result<void> ensureKeyDir(const fs::path& dir)
{
    std::error_code ec;
    if (fs::exists(dir, ec))
        return {};
    fs::path parent = dir.parent_path();
    if (!parent.empty()) {
        fs::create_directories(parent, ec);
        if (ec)
            return fail(VN_ERR_STORAGE, "cannot create " + parent.string() + ": " + ec.message());
    }
    std::string tmpl = (parent / ("." + dir.filename().string() + ".new-XXXXXX")).string();
    if (!::mkdtemp(tmpl.data())) // 0700
        return std::unexpected(
            storageFailure("cannot create a folder in " + parent.string(), errno));
    KeyStore fresh{fs::path(tmpl)};
    KeyState key;
    key.serial = randomKeySerial();
    auto made = fresh.create(key);
    if (made)
        made = fresh.plug(key.serial);
    if (made && ::rename(tmpl.c_str(), dir.c_str()) == 0)
        return {};
    int err = errno;
    fs::remove_all(tmpl, ec);
    if (!made)
        return made;
    // Another process got there first; its key directory stands.
    if (err == EEXIST || err == ENOTEMPTY)
        return {};
    return std::unexpected(storageFailure("cannot create " + dir.string(), err));
}

} // namespace vkey
