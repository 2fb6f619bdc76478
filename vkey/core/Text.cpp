#include "Text.h"

#include <openssl/evp.h>

namespace vkey {

std::string toHex(std::span<const uint8_t> bytes)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (uint8_t b : bytes) {
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 0x0F]);
    }
    return out;
}

static int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::optional<std::vector<uint8_t>> fromHex(std::string_view hex)
{
    if (hex.size() % 2 != 0)
        return std::nullopt;
    std::vector<uint8_t> out;
    out.reserve(hex.size() / 2);
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        int hi = hexValue(hex[i]);
        int lo = hexValue(hex[i + 1]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        out.push_back(static_cast<uint8_t>(hi << 4 | lo));
    }
    return out;
}

std::string bytesToUtf8(std::string_view bytes)
{
    std::string out;
    for (char ch : bytes) {
        auto b = static_cast<uint8_t>(ch);
        if (b < 0x80) {
            out.push_back(ch);
        } else {
            out.push_back(static_cast<char>(0xC0 | b >> 6));
            out.push_back(static_cast<char>(0x80 | (b & 0x3F)));
        }
    }
    return out;
}

std::optional<std::string> utf8ToBytes(std::string_view utf8)
{
    std::string out;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        auto b = static_cast<uint8_t>(utf8[i]);
        if (b < 0x80) {
            out.push_back(static_cast<char>(b));
            continue;
        }
        // Only U+0080..U+00FF can come from bytesToUtf8: lead byte C2 or C3.
        if ((b != 0xC2 && b != 0xC3) || i + 1 >= utf8.size())
            return std::nullopt;
        auto c = static_cast<uint8_t>(utf8[++i]);
        if ((c & 0xC0) != 0x80)
            return std::nullopt;
        out.push_back(static_cast<char>((b & 0x03) << 6 | (c & 0x3F)));
    }
    return out;
}

std::optional<std::vector<uint8_t>> fromBase64(std::string_view text)
{
    if (text.size() % 4 != 0)
        return std::nullopt;
    std::vector<uint8_t> out(text.size() / 4 * 3);
    int n = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(text.data()),
                            static_cast<int>(text.size()));
    if (n < 0)
        return std::nullopt;
    // EVP_DecodeBlock counts the padding as zero bytes; drop them again.
    std::size_t pad = 0;
    while (pad < 2 && pad < text.size() && text[text.size() - 1 - pad] == '=')
        ++pad;
    out.resize(static_cast<std::size_t>(n) - pad);
    return out;
}

} // namespace vkey
