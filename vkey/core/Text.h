#pragma once

// Byte/text conversions for the key files. Serial numbers are 8-bit text of
// any code page, so the files keep them as Latin-1 mapped to UTF-8: one code
// point per byte, readable for ASCII and lossless for every other byte.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vkey {

std::string toHex(std::span<const uint8_t> bytes);
std::optional<std::vector<uint8_t>> fromHex(std::string_view hex);

std::string bytesToUtf8(std::string_view bytes);
// Fails on malformed UTF-8 and on code points above U+00FF.
std::optional<std::string> utf8ToBytes(std::string_view utf8);

std::optional<std::vector<uint8_t>> fromBase64(std::string_view text);

} // namespace vkey
