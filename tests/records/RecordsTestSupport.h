#pragma once

// What the tests of the records, and of what records tokens, share.

#include "core/TokenDescription.h"
#include "records/FolderLock.h"
#include "records/Recorder.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <string>

namespace fs = std::filesystem;

// Owner-only from its creation, as a seed folder must be; removed whole.
struct TempDir
{
    fs::path path = [] {
        std::string pattern = (fs::temp_directory_path() / "records-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        return fs::path(pattern);
    }();
    ~TempDir() { fs::remove_all(path); }
    fs::path operator/(const std::string& name) const { return path / name; }
};

inline std::string slurp(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return in ? std::string(std::istreambuf_iterator<char>(in), {}) : "<missing>";
}

// Owner-only, as the recorders make their files, whatever the umask.
inline void spit(const fs::path& path, std::string_view bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
}

// Every file of a folder but the seed files' lock, with its bytes.
inline std::map<std::string, std::string> snapshot(const fs::path& folder)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().filename() != ".seedfiles.lock")
            files[entry.path().filename()] = slurp(entry.path());
    return files;
}

inline otp::core::SecretBytes bytes_of(std::string_view text)
{
    return otp::core::SecretBytes(
        std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

// By default with the RFC 4226 / RFC 6238 seed "1234567890..." the hash needs.
inline otp::core::TokenDescription describedToken(otp::core::OtpAlgorithm algorithm,
                                                  otp::core::OtpHash hash, int digits, int interval,
                                                  std::string serial, std::string user = {},
                                                  otp::core::SecretBytes seed = {})
{
    if (seed.empty())
        seed =
            bytes_of(std::string("12345678901234567890123456789012", otp::core::seed_length(hash)));
    return {algorithm, hash, digits, interval, std::move(serial), std::move(seed), std::move(user)};
}

// As program_token records: the locks, the check, the record. "" when every
// file took the token, otherwise the refusal or each file that failed.
inline std::string record(otp::records::Recorder& recorder,
                          const otp::core::TokenDescription& token)
{
    const auto folders = recorder.open_folders();
    if (!folders)
        return "refused: " + folders.error().detail;
    const auto locks = otp::records::acquire_folder_locks(*folders);
    if (!locks)
        return "lock: " + locks.error().detail;
    if (auto checked = recorder.check(token); !checked)
        return "refused: " + checked.error().detail;
    std::string failures;
    for (const otp::records::RecordOutcome& outcome : recorder.record(token, "VK1000001"))
        if (outcome.failure)
            failures += outcome.destination.filename().string() + ": " + outcome.failure->detail;
    return failures;
}
