#include "support/OtpReference.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <algorithm>
#include <cstring>

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
    const std::string value = std::to_string(binary % (digits == 8 ? 100'000'000 : 1'000'000));
    return std::string(static_cast<std::size_t>(digits) - value.size(), '0') + value;
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
