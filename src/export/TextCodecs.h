#pragma once

// The text forms secrets and seed files come in: hexadecimal, base32
// (RFC 4648) and UTF-16LE.

#include "export/Secret.h"

#include <optional>
#include <string>
#include <string_view>

namespace pskc {

// Pairs of 0-9, a-f, A-F and nothing else.
std::optional<SecretBytes> hex_decode(std::string_view text);

// The standard alphabet, upper or lower case, with or without '=' padding.
std::optional<SecretBytes> base32_decode(std::string_view text);

// UTF-8 text of UTF-16LE bytes (no byte-order mark expected; one is
// dropped). Nothing for an odd length or a broken surrogate pair.
std::optional<std::string> utf16le_to_utf8(std::string_view bytes);

} // namespace pskc
