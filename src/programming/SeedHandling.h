#pragma once

// Serial numbers and seeds of new tokens. Plain functions, no state between
// calls; the text forms of seeds (hexadecimal, base32) are core/Codecs.h.

#include <cstddef>
#include <cstdint>

namespace otp::programming {

// Length of a generated serial number; the dialog's serial buffer holds it
// and a terminator. The key stores serial numbers of up to this length.
inline constexpr std::size_t kSerialNumberLength = 13;
inline constexpr std::size_t kSerialBufferSize = kSerialNumberLength + 1;

// The largest seed the key takes (SHA-256); core/TokenDescription.h has each hash's.
inline constexpr std::size_t kSeedBufferSize = 32;

// Fills positions 0..12 of a zero-filled 14-byte buffer with "0000" and nine
// digits '1'..'9'; writes no terminator. Returns 0.
int generate_serial_number(char* buffer);

// Writes `length` bytes from the operating system's secure random source into
// `out`. Returns 0, or -1 when the random source fails (`out` is then
// unusable). A length of 0 or less writes nothing.
int generate_seed(uint8_t* out, int length);

} // namespace otp::programming
