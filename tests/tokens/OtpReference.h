#pragma once

// HOTP (RFC 4226) and TOTP (RFC 6238) computed here, apart from the key, so
// that the values the key returns can be checked against the standards.

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <cstdint>
#include <ctime>
#include <iomanip>
#include <optional>
#include <sstream>
#include <string>

// RFC 6238 Appendix B seeds; the SHA-1 one is also RFC 4226 Appendix D's.
inline const std::string kRfcSeedSha1 = "12345678901234567890";
inline const std::string kRfcSeedSha256 = "12345678901234567890123456789012";

inline std::string referenceHotp(const std::string& seed, uint64_t counter, int digits, bool sha256)
{
    unsigned char message[8];
    for (int i = 7; i >= 0; --i, counter >>= 8)
        message[i] = static_cast<unsigned char>(counter & 0xFF);
    unsigned char mac[EVP_MAX_MD_SIZE];
    unsigned int macLen = 0;
    HMAC(sha256 ? EVP_sha256() : EVP_sha1(), seed.data(), static_cast<int>(seed.size()), message,
         sizeof message, mac, &macLen);
    const unsigned offset = mac[macLen - 1] & 0x0F;
    const uint32_t binary = (uint32_t(mac[offset] & 0x7F) << 24) |
                            (uint32_t(mac[offset + 1]) << 16) | (uint32_t(mac[offset + 2]) << 8) |
                            uint32_t(mac[offset + 3]);
    uint32_t modulus = 1;
    for (int i = 0; i < digits; ++i)
        modulus *= 10;
    std::ostringstream out;
    out << std::setw(digits) << std::setfill('0') << binary % modulus;
    return out.str();
}

// Seconds since 1970 of a local time written as "%Y-%m-%d %H:%M:%S".
inline std::optional<std::time_t> epochOfLocalTime(const std::string& text)
{
    std::tm local{};
    std::istringstream in(text);
    in >> std::get_time(&local, "%Y-%m-%d %H:%M:%S");
    if (in.fail())
        return std::nullopt;
    local.tm_isdst = -1;
    return std::mktime(&local);
}
