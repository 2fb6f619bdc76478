#include "core/Codecs.h"

#include <openssl/evp.h>

#include <algorithm>

namespace otp::core {

namespace {

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

void append_utf16le(std::string& out, uint32_t unit)
{
    out.push_back(static_cast<char>(unit & 0xFF));
    out.push_back(static_cast<char>(unit >> 8));
}

// The code point at text[i] of valid UTF-8, advancing i; 0xFFFFFFFF when the
// sequence there is not well-formed.
uint32_t next_code_point(std::string_view text, std::size_t& i)
{
    constexpr uint32_t kBad = 0xFFFFFFFF;
    const auto byte = [&](std::size_t k) { return static_cast<uint8_t>(text[k]); };
    const uint8_t lead = byte(i);
    std::size_t length = 0;
    uint32_t code = 0;
    uint32_t minimum = 0;
    if (lead < 0x80) {
        ++i;
        return lead;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, code = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, code = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, code = lead & 0x07, minimum = 0x10000;
    } else {
        return kBad;
    }
    if (i + length > text.size())
        return kBad;
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return kBad;
        code = (code << 6) | (byte(i + k) & 0x3F);
    }
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return kBad;
    i += length;
    return code;
}

} // namespace

std::string to_hex_upper(std::span<const uint8_t> bytes)
{
    return to_hex(bytes, "0123456789ABCDEF");
}

std::string to_hex_lower(std::span<const uint8_t> bytes)
{
    return to_hex(bytes, "0123456789abcdef");
}

int hex_digit_value(char32_t c)
{
    if (c >= U'0' && c <= U'9')
        return static_cast<int>(c - U'0');
    if (c >= U'a' && c <= U'f')
        return static_cast<int>(c - U'a') + 10;
    if (c >= U'A' && c <= U'F')
        return static_cast<int>(c - U'A') + 10;
    return -1;
}

std::optional<SecretBytes> hex_decode(std::string_view text)
{
    if (text.size() % 2 != 0)
        return std::nullopt;
    SecretBytes bytes(text.size() / 2);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const int high = hex_digit_value(static_cast<unsigned char>(text[2 * i]));
        const int low = hex_digit_value(static_cast<unsigned char>(text[2 * i + 1]));
        if (high < 0 || low < 0)
            return std::nullopt;
        bytes.data()[i] = static_cast<uint8_t>(high * 16 + low);
    }
    return bytes;
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

bool is_valid_utf8(std::string_view text)
{
    for (std::size_t i = 0; i < text.size();)
        if (next_code_point(text, i) == 0xFFFFFFFF)
            return false;
    return true;
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

std::string utf8_to_utf16le(std::string_view text)
{
    std::string out;
    out.reserve(text.size() * 2);
    for (std::size_t i = 0; i < text.size();) {
        const uint32_t code = next_code_point(text, i);
        if (code == 0xFFFFFFFF) {
            ++i; // not reached for valid text; keeps the loop finite otherwise
            append_utf16le(out, 0xFFFD);
        } else if (code >= 0x10000) {
            append_utf16le(out, 0xD800 + ((code - 0x10000) >> 10));
            append_utf16le(out, 0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            append_utf16le(out, code);
        }
    }
    return out;
}

std::string utf16_to_utf8(std::u16string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        uint32_t code = text[i];
        if (code >= 0xD800 && code <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (text[++i] - 0xDC00u);
        } else if (code >= 0xD800 && code <= 0xDFFF) {
            out.push_back(static_cast<char>(0xFF));
            continue;
        }
        append_utf8(out, code);
    }
    return out;
}

std::string base64_encode(std::span<const uint8_t> bytes)
{
    std::string text(4 * ((bytes.size() + 2) / 3), '\0');
    const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), bytes.data(),
                                       static_cast<int>(bytes.size()));
    text.resize(static_cast<std::size_t>(length));
    return text;
}

std::optional<std::vector<uint8_t>> base64_decode(std::string_view text)
{
    // OpenSSL's block decoder also passes white space and padding in the
    // middle: only the strict form reaches it.
    if (text.size() % 4 != 0)
        return std::nullopt;
    std::size_t padding = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '=' && i + 2 >= text.size()) {
            ++padding;
            continue;
        }
        const bool inAlphabet = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                                (c >= '0' && c <= '9') || c == '+' || c == '/';
        if (!inAlphabet || padding > 0)
            return std::nullopt;
    }
    std::vector<uint8_t> bytes(text.size() / 4 * 3);
    if (text.empty())
        return bytes;
    const int length =
        EVP_DecodeBlock(bytes.data(), reinterpret_cast<const unsigned char*>(text.data()),
                        static_cast<int>(text.size()));
    if (length < 0)
        return std::nullopt;
    // The block decoder counts the bytes the padding stands for.
    bytes.resize(static_cast<std::size_t>(length) - padding);
    return bytes;
}

} // namespace otp::core
