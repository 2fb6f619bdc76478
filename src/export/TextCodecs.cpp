#include "export/TextCodecs.h"

#include <cstdint>

namespace pskc {
namespace {

int hex_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

int base32_value(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a';
    if (c >= '2' && c <= '7')
        return c - '2' + 26;
    return -1;
}

void append_utf8(std::string& out, uint32_t code)
{
    if (code < 0x80) {
        out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (code >> 6)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (code >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (code >> 18)));
        out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

} // namespace

std::optional<SecretBytes> hex_decode(std::string_view text)
{
    if (text.size() % 2 != 0)
        return std::nullopt;
    SecretBytes bytes(text.size() / 2);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const int high = hex_value(text[2 * i]);
        const int low = hex_value(text[2 * i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        bytes.data()[i] = static_cast<uint8_t>(high * 16 + low);
    }
    return bytes;
}

std::optional<SecretBytes> base32_decode(std::string_view text)
{
    while (text.ends_with('='))
        text.remove_suffix(1);
    // A last group of 1, 3 or 6 characters carries no whole byte.
    const std::size_t rest = text.size() % 8;
    if (rest == 1 || rest == 3 || rest == 6)
        return std::nullopt;
    SecretBytes bytes(text.size() * 5 / 8);
    uint32_t buffer = 0;
    int bits = 0;
    std::size_t count = 0;
    for (const char c : text) {
        const int value = base32_value(c);
        if (value < 0)
            return std::nullopt;
        buffer = (buffer << 5) | static_cast<uint32_t>(value);
        bits += 5;
        if (bits >= 8) {
            bits -= 8;
            bytes.data()[count++] = static_cast<uint8_t>(buffer >> bits);
            buffer &= (1u << bits) - 1;
        }
    }
    return bytes;
}

std::optional<std::string> utf16le_to_utf8(std::string_view bytes)
{
    if (bytes.size() % 2 != 0)
        return std::nullopt;
    std::string out;
    out.reserve(bytes.size() / 2);
    auto unit = [&](std::size_t i) {
        return static_cast<uint32_t>(static_cast<uint8_t>(bytes[2 * i])) |
               static_cast<uint32_t>(static_cast<uint8_t>(bytes[2 * i + 1])) << 8;
    };
    const std::size_t units = bytes.size() / 2;
    for (std::size_t i = (units > 0 && unit(0) == 0xFEFF) ? 1 : 0; i < units; ++i) {
        uint32_t code = unit(i);
        if (code >= 0xD800 && code <= 0xDBFF) {
            if (i + 1 >= units || unit(i + 1) < 0xDC00 || unit(i + 1) > 0xDFFF)
                return std::nullopt;
            code = 0x10000 + ((code - 0xD800) << 10) + (unit(++i) - 0xDC00);
        } else if (code >= 0xDC00 && code <= 0xDFFF) {
            return std::nullopt;
        }
        append_utf8(out, code);
    }
    return out;
}

} // namespace pskc
