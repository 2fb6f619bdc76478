#include "support/OtpReference.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <algorithm>
#include <cstring>
#include <iomanip>
#include <sstream>

std::string referenceOtp(std::string_view seed, uint64_t counter, int digits, bool sha256)
{
    unsigned char message[8];
    for (int i = 7; i >= 0; --i, counter >>= 8)
        message[i] = static_cast<unsigned char>(counter & 0xFF);
    unsigned char mac[EVP_MAX_MD_SIZE];
    unsigned int macLength = 0;
    HMAC(sha256 ? EVP_sha256() : EVP_sha1(), seed.data(), static_cast<int>(seed.size()), message,
         sizeof message, mac, &macLength);
    const unsigned at = mac[macLength - 1] & 0x0F;
    const uint32_t binary = (uint32_t(mac[at] & 0x7F) << 24) | (uint32_t(mac[at + 1]) << 16) |
                            (uint32_t(mac[at + 2]) << 8) | uint32_t(mac[at + 3]);
    uint32_t modulus = 1;
    for (int i = 0; i < digits; ++i)
        modulus *= 10;
    std::ostringstream out;
    out << std::setw(digits) << std::setfill('0') << binary % modulus;
    return out.str();
}

std::string decodeBase32(std::string_view text)
{
    static const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
    std::string out;
    uint32_t buffer = 0;
    int bits = 0;
    for (char c : text) {
        const char* at = c ? std::strchr(alphabet, c) : nullptr;
        if (!at)
            break; // '=' padding
        buffer = (buffer << 5) | static_cast<uint32_t>(at - alphabet);
        if ((bits += 5) >= 8)
            out.push_back(static_cast<char>((buffer >> (bits -= 8)) & 0xFF));
    }
    return out;
}

std::optional<std::time_t> epochOfLocalTime(const std::string& text)
{
    std::tm local{};
    std::istringstream in(text);
    in >> std::get_time(&local, "%Y-%m-%d %H:%M:%S");
    if (in.fail())
        return std::nullopt;
    local.tm_isdst = -1;
    return std::mktime(&local);
}

OtpTokenRecord tokenRecord(const std::string& serial, uint32_t type, std::string_view seed,
                           uint32_t hash, uint32_t digits, uint32_t interval)
{
    OtpTokenRecord r{};
    r.slot = VN_SLOT_ALL;
    r.type = type;
    r.hash = hash;
    r.digits = digits;
    r.interval = interval;
    std::strncpy(r.serial, serial.c_str(), sizeof r.serial - 1);
    std::memcpy(r.seed, seed.data(), std::min(seed.size(), sizeof r.seed));
    r.seedLength = static_cast<uint32_t>(seed.size());
    return r;
}
