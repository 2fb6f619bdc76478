#pragma once

#include <VN_Manager.h>

#include <algorithm>
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

struct TempDir
{
    std::filesystem::path dir = [] {
        std::string t = (std::filesystem::temp_directory_path() / "vkey-t-XXXXXX").string();
        return ::mkdtemp(t.data()) ? t : std::string();
    }();
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    const std::filesystem::path& path() const { return dir; }
};

} // namespace testrec
