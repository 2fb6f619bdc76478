#pragma once

// Records, key directories and files as the virtual-key tests need them.

#include <VN_Manager.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

namespace testrec {

inline OtpTokenRecord token(std::string_view serial, uint32_t type = VN_TYPE_HOTP,
                            uint32_t hash = VN_HASH_SHA1, uint32_t digits = 6,
                            uint32_t interval = 30, std::string_view seed = {})
{
    if (seed.empty())
        seed = hash == VN_HASH_SHA256 ? "12345678901234567890123456789012" : "12345678901234567890";
    OtpTokenRecord r{VN_SLOT_ALL, type, hash, digits, interval, {}, {}, uint32_t(seed.size())};
    std::memcpy(r.serial, serial.data(), std::min<std::size_t>(serial.size(), 64));
    std::memcpy(r.seed, seed.data(), std::min<std::size_t>(seed.size(), 64));
    return r;
}

// The slot-1 record with this serial text.
inline OtpTokenRecord pinToken(std::string_view serial)
{
    OtpTokenRecord r = token(serial, VN_TYPE_TOTP, VN_HASH_SHA1, 6, 30, "50827413");
    r.slot = VN_SLOT_PIN_RECORD;
    return r;
}

inline std::string slurp(const std::filesystem::path& path)
{
    std::ostringstream s;
    s << std::ifstream(path, std::ios::binary).rdbuf();
    return s.str();
}

// A private directory that goes away with the test.
class TempDir
{
public:
    TempDir()
    {
        const char* base = std::getenv("TMPDIR");
        std::string tmpl = std::string(base && *base ? base : "/tmp") + "/vkey-t-XXXXXX";
        if (::mkdtemp(tmpl.data()))
            m_path = tmpl;
    }
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

} // namespace testrec
