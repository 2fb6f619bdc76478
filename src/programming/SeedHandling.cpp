#include "programming/SeedHandling.h"

#include <openssl/rand.h>

#include <algorithm>
#include <random>

int generate_serial_number(char* buffer)
{
    // Serial numbers are public labels, not secrets, so the plain Mersenne
    // Twister is good enough here; seeds never come from it.
    std::mt19937 generator(std::random_device{}());

    buffer[0] = buffer[1] = buffer[2] = buffer[3] = '0';
    for (std::size_t i = 4; i < kSerialNumberLength; ++i) {
        // Multiply-and-take-the-high-word maps a 32-bit draw to 0..8; draws
        // whose low word falls below 2^32 mod 9 (= 4) are thrown away so that
        // every digit is equally likely.
        uint64_t product = 0;
        do {
            product = static_cast<uint64_t>(generator()) * 9u;
        } while (static_cast<uint32_t>(product) < 4u);
        buffer[i] = static_cast<char>('1' + static_cast<int>(product >> 32));
    }
    return 0;
}

int generate_seed(uint8_t* out, int length)
{
    if (length <= 0)
        return 0;
    // The seed is the token's whole secret: it must come from the system's
    // cryptographic source. A generator seeded from one 32-bit value would
    // allow only 2^32 different seeds, few enough to try them all against one
    // observed OTP.
    return RAND_bytes(out, length) == 1 ? 0 : -1;
}

namespace {

int hex_value(char16_t c)
{
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    return -1;
}

std::string to_hex(std::span<const uint8_t> bytes, const char* digits)
{
    std::string text;
    text.reserve(bytes.size() * 2);
    for (uint8_t b : bytes) {
        text.push_back(digits[b >> 4]);
        text.push_back(digits[b & 0x0F]);
    }
    return text;
}

} // namespace

bool hex_to_bytes(const QString& text, uint8_t* out, std::size_t capacity, std::size_t* count)
{
    const auto n = static_cast<std::size_t>(text.size());
    if (n % 2 != 0 || n / 2 > capacity)
        return false;
    for (std::size_t i = 0; i < n; i += 2) {
        const int high = hex_value(text[static_cast<qsizetype>(i)].unicode());
        const int low = hex_value(text[static_cast<qsizetype>(i + 1)].unicode());
        if (high < 0 || low < 0)
            return false;
        out[i / 2] = static_cast<uint8_t>(high * 16 + low);
    }
    *count = n / 2;
    return true;
}

std::string to_hex_upper(std::span<const uint8_t> bytes)
{
    return to_hex(bytes, "0123456789ABCDEF");
}

std::string to_hex_lower(std::span<const uint8_t> bytes)
{
    return to_hex(bytes, "0123456789abcdef");
}

std::size_t base32_length(std::size_t length)
{
    return (length + 4) / 5 * 8;
}

void base32_encode(const uint8_t* data, std::size_t length, char* out)
{
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
    std::size_t written = 0;
    for (std::size_t group = 0; group < length; group += 5) {
        const std::size_t take = std::min<std::size_t>(5, length - group);
        uint64_t bits = 0;
        for (std::size_t i = 0; i < 5; ++i)
            bits = (bits << 8) | (i < take ? data[group + i] : 0u);
        // Only the characters that the group's bits reach carry data; the
        // rest of the eight are padding.
        const std::size_t used = (take * 8 + 4) / 5;
        for (std::size_t i = 0; i < 8; ++i)
            out[written++] = i < used ? kAlphabet[(bits >> (35 - 5 * i)) & 0x1F] : '=';
    }
}

std::string base32_encode(std::span<const uint8_t> bytes)
{
    std::string text(base32_length(bytes.size()), '\0');
    base32_encode(bytes.data(), bytes.size(), text.data());
    return text;
}
