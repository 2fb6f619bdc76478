#pragma once

// The text forms secrets, seeds and seed files come in: hexadecimal,
// base32 and base64 (RFC 4648), UTF-8 and UTF-16LE. The one place each is
// written.

#include "core/Secret.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace otp::core {

// Two digits per byte: upper case for the dialog, the XML file and every
// listing; lower case for the HOTP CSV file and the pam_oath users file.
std::string to_hex_upper(std::span<const uint8_t> bytes);
std::string to_hex_lower(std::span<const uint8_t> bytes);

// The value of one hexadecimal digit (0-9, a-f, A-F), or -1.
int hex_digit_value(char32_t c);

// Pairs of 0-9, a-f, A-F and nothing else; an empty text gives no bytes.
std::optional<SecretBytes> hex_decode(std::string_view text);

// RFC 4648 base32 with the standard alphabet and '=' padding. The buffer
// form writes exactly base32_length(length) characters and no terminator.
std::size_t base32_length(std::size_t length);
void base32_encode(const uint8_t* data, std::size_t length, char* out);
std::string base32_encode(std::span<const uint8_t> bytes);
// The standard alphabet, upper or lower case, with or without '=' padding.
std::optional<SecretBytes> base32_decode(std::string_view text);

// RFC 4648 base64 with the standard alphabet and '=' padding, by OpenSSL.
std::string base64_encode(std::span<const uint8_t> bytes);
// Groups of four characters of the standard alphabet, the last group padded
// with '=', and nothing else (no white space); an empty text gives no bytes.
std::optional<std::vector<uint8_t>> base64_decode(std::string_view text);

// Whether the bytes are well-formed UTF-8 (no overlong forms, no surrogates).
bool is_valid_utf8(std::string_view text);

// UTF-8 of UTF-16LE bytes (no byte-order mark expected; one is dropped).
// Nothing for an odd length or a broken surrogate pair.
std::optional<std::string> utf16le_to_utf8(std::string_view bytes);
// UTF-16LE bytes of UTF-8 text; the text must be valid UTF-8.
std::string utf8_to_utf16le(std::string_view text);
// UTF-8 of UTF-16 code units. A lone surrogate has no UTF-8 form: it becomes
// the byte 0xFF, which no UTF-8 text holds, so that is_valid_utf8 refuses
// the result as it refuses any other text that cannot be carried faithfully.
std::string utf16_to_utf8(std::u16string_view text);

} // namespace otp::core
