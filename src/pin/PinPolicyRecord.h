#pragma once

// The PIN policy record lives on the key itself, as the serial text of a TOTP
// pseudo-token in slot 1: 34 bytes, base64-encoded. Nothing about the PIN is
// kept in the program; every operation reads the record afresh.

#include "core/Error.h"
#include "device/KeySession.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace otp::pin {

inline constexpr std::size_t kPinPolicyRecordSize = 34;
inline constexpr std::size_t kPinDigestSize = 16;

struct PinPolicyRecord
{
    uint8_t enabled = 0; // policy in force when nonzero
    // MD5 of the PIN's UTF-8 bytes, software mode only; all zero: no PIN set.
    std::array<uint8_t, kPinDigestSize> pinDigest{};
    int64_t pinSetTime = 0; // seconds since 1970 UTC
    uint16_t expiryDays = 0;
    uint8_t minLength = 0;
    uint8_t minNumeric = 0;
    uint8_t minLowercase = 0;
    uint8_t minUppercase = 0;
    uint8_t minSpecial = 0;
    uint8_t maxSequential = 0;
    uint8_t maxRepeating = 0;

    bool operator==(const PinPolicyRecord&) const = default;
};

using PinPolicyBytes = std::array<uint8_t, kPinPolicyRecordSize>;

// The wire layout: packed, little-endian, in the order of the fields above.
PinPolicyBytes to_bytes(const PinPolicyRecord& record);
PinPolicyRecord pin_policy_from_bytes(std::span<const uint8_t, kPinPolicyRecordSize> bytes);

// The record's text as the key holds it: base64 (core/Codecs.h) of a length
// that is a multiple of four, whose decoding stops at the first '=' and
// ignores whatever follows it; anything else is Refused ("Invalid base64
// input.").
core::OpResult<std::vector<uint8_t>> pin_record_base64_decode(std::string_view text);

// The text the key keeps the record in: the 48 base64 characters.
std::string pin_policy_text(const PinPolicyRecord& record);

// Fails when the key cannot be read ("Failed to read PIN policy.", with the
// key's fault and status), or Refused when the record is missing, malformed
// or switched off ("... Ask Admin to initialize the device.").
core::OpResult<PinPolicyRecord> read_pin_policy(device::KeySession& device);
// A missing or unreadable record reads as all zeros; one that is switched off
// comes back with its stored values.
PinPolicyRecord read_pin_policy_or_zero(device::KeySession& device);
// The record a policy save builds on: as read_pin_policy_or_zero, but a key
// that answers the read with an error status fails ("Failed to read PIN
// policy."), since a zero record would erase the PIN it may hold.
core::OpResult<PinPolicyRecord> read_pin_policy_to_update(device::KeySession& device);
// Replaces the pseudo-token; the key waits for a touch, so callers show their
// prompt first. Never passes an access code. TimedOut: "Token timed out" (no
// full stop); any other status: "Failed to write PIN policy.".
core::OpResult<void> write_pin_policy(device::KeySession& device, const PinPolicyRecord& record);

} // namespace otp::pin
