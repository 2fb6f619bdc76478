#include "Otp.h"

#include <VN_Manager.h>

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <ctime>

namespace vkey {

std::string hotp(std::span<const uint8_t> seed, uint64_t counter, uint32_t hash, uint32_t digits)
{
    uint8_t message[8];
    for (int i = 7; i >= 0; --i) {
        message[i] = static_cast<uint8_t>(counter & 0xFF);
        counter >>= 8;
    }
    unsigned char mac[EVP_MAX_MD_SIZE];
    unsigned int macLen = 0;
    const EVP_MD* md = hash == VN_HASH_SHA256 ? EVP_sha256() : EVP_sha1();
    if (!HMAC(md, seed.data(), static_cast<int>(seed.size()), message, sizeof message, mac,
              &macLen) ||
        macLen < 20)
        return {};
    // Dynamic truncation, RFC 4226 section 5.3.
    unsigned offset = mac[macLen - 1] & 0x0F;
    uint32_t binary = (mac[offset] & 0x7Fu) << 24 | mac[offset + 1] << 16 | mac[offset + 2] << 8 |
                      mac[offset + 3];
    uint32_t modulo = digits == 8 ? 100000000u : 1000000u;
    std::string value = std::to_string(binary % modulo);
    return std::string(digits - value.size(), '0') + value;
}

uint64_t totpStep(int64_t unixTime, uint32_t interval)
{
    // Times before 1970 have no step of their own; the key clamps them to 0.
    return unixTime < 0 ? 0 : static_cast<uint64_t>(unixTime) / interval;
}

std::optional<int64_t> parseLocalTime(std::string_view text)
{
    // YYYY-MM-DD HH:MM:SS, with the separators exactly where they belong.
    static constexpr std::string_view shape = "dddd-dd-dd dd:dd:dd";
    if (text.size() != shape.size())
        return std::nullopt;
    for (std::size_t i = 0; i < shape.size(); ++i) {
        bool digit = text[i] >= '0' && text[i] <= '9';
        if (shape[i] == 'd' ? !digit : text[i] != shape[i])
            return std::nullopt;
    }
    auto number = [&](std::size_t pos, std::size_t len) {
        int value = 0;
        for (std::size_t i = pos; i < pos + len; ++i)
            value = value * 10 + (text[i] - '0');
        return value;
    };
    std::tm tm{};
    tm.tm_year = number(0, 4) - 1900;
    tm.tm_mon = number(5, 2) - 1;
    tm.tm_mday = number(8, 2);
    tm.tm_hour = number(11, 2);
    tm.tm_min = number(14, 2);
    tm.tm_sec = number(17, 2);
    tm.tm_isdst = -1;
    if (tm.tm_mon > 11 || tm.tm_mday < 1 || tm.tm_hour > 23 || tm.tm_min > 59 || tm.tm_sec > 60)
        return std::nullopt;
    std::tm normalised = tm;
    std::time_t t = std::mktime(&normalised);
    // mktime rolls 31 April into 1 May; the key refuses such a date instead.
    if (normalised.tm_mday != tm.tm_mday || normalised.tm_mon != tm.tm_mon)
        return std::nullopt;
    return static_cast<int64_t>(t);
}

} // namespace vkey
