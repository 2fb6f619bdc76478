#pragma once

// The key's OTP arithmetic: HOTP (RFC 4226) and TOTP (RFC 6238) with SHA-1
// or SHA-256, and the challenge text the program sends for TOTP.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace vkey {

// hash is VN_HASH_SHA1 or VN_HASH_SHA256, digits 6 or 8.
std::string hotp(std::span<const uint8_t> seed, uint64_t counter, uint32_t hash, uint32_t digits);

// The time step of unixTime for a TOTP interval in seconds (T0 = 0).
uint64_t totpStep(int64_t unixTime, uint32_t interval);

// "%Y-%m-%d %H:%M:%S" (exactly 19 characters), read as local time. Empty for
// any other text or an impossible date.
std::optional<int64_t> parseLocalTime(std::string_view text);

} // namespace vkey
