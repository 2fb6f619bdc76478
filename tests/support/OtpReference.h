#pragma once

// HOTP (RFC 4226) / TOTP (RFC 6238) computed apart from the key and program.

#include "device/DeviceApi.h"

#include <cstdint>
#include <string>
#include <string_view>

// RFC 6238 Appendix B seeds; the SHA-1 one is also RFC 4226 Appendix D's.
inline const std::string kRfcSeedSha1 = "12345678901234567890";
inline const std::string kRfcSeedSha256 = "12345678901234567890123456789012";

// The HOTP value of `seed` (raw bytes) at `counter`; TOTP: the time step as counter.
std::string referenceOtp(std::string_view seed, uint64_t counter, int digits, bool sha256);

// RFC 4648 base32 decoding, apart from the program's encoder.
std::string decodeBase32(std::string_view text);

// A token record for the key: slot "all", the given serial and seed bytes.
OtpTokenRecord tokenRecord(const std::string& serial, uint32_t type, std::string_view seed,
                           uint32_t hash = VN_HASH_SHA1, uint32_t digits = 6,
                           uint32_t interval = 30);
