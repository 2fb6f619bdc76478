#pragma once

// Serial numbers and seeds of new tokens, and the text forms in which seeds
// are shown and exported. Plain functions, no state between calls.

#include <QString>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

// Length of a generated serial number; the dialog's serial buffer holds it
// and a terminator.
inline constexpr std::size_t kSerialNumberLength = 13;
inline constexpr std::size_t kSerialBufferSize = kSerialNumberLength + 1;

// Seed length in bytes that the key expects for each hash.
inline constexpr std::size_t kSha1SeedLength = 20;
inline constexpr std::size_t kSha256SeedLength = 32;
inline constexpr std::size_t kSeedBufferSize = kSha256SeedLength;

// Fills positions 0..12 of a zero-filled 14-byte buffer with "0000" and nine
// digits '1'..'9'; writes no terminator. Returns 0.
int generate_serial_number(char* buffer);

// Writes `length` bytes from the operating system's secure random source into
// `out`. Returns 0, or -1 when the random source fails (`out` is then
// unusable). A length of 0 or less writes nothing.
int generate_seed(uint8_t* out, int length);

// Decodes hexadecimal seed text (pairs of 0-9, A-F, a-f, nothing else) into
// `out`. Fails on an odd number of characters, on more than `capacity` bytes
// and on any other character; bytes before a bad pair stay written. On
// success sets `*count` and returns true; on failure leaves it alone.
bool hex_to_bytes(const QString& text, uint8_t* out, std::size_t capacity, std::size_t* count);

// Two digits per byte: "%02X" for the dialog and the XML file, "%02x" for
// the HOTP CSV file.
std::string to_hex_upper(std::span<const uint8_t> bytes);
std::string to_hex_lower(std::span<const uint8_t> bytes);

// RFC 4648 base32 with the standard alphabet and '=' padding. Writes
// exactly base32_length(length) characters and no terminator.
std::size_t base32_length(std::size_t length);
void base32_encode(const uint8_t* data, std::size_t length, char* out);
std::string base32_encode(std::span<const uint8_t> bytes);
