#pragma once

// The values of the PIN Policy dialog, apart from its widgets: reading a
// field's text and building the record that a save writes.
//
// A field is saved exactly as the administrator typed it or not at all: an
// empty, non-numeric or out-of-range field refuses the whole save, so the key
// never gets a value other than the one on screen (no silent truncation to
// 8 or 16 bits, no value carried over from before).

#include "pin/PinPolicyRecord.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace otp::pin {

// The dialog's fields in the order they are read.
enum class PolicyField {
    MinLength,
    MinNumeric,
    MinLowercase,
    MinUppercase,
    MinSpecial,
    MaxSequential,
    MaxRepeating,
    ExpiryDays,
};
inline constexpr std::size_t kPolicyFieldCount = 8;

struct PolicyValues
{
    bool enabled = false;
    std::array<uint32_t, kPolicyFieldCount> values{}; // indexed by PolicyField

    uint32_t& operator[](PolicyField f) { return values[static_cast<std::size_t>(f)]; }
    uint32_t operator[](PolicyField f) const { return values[static_cast<std::size_t>(f)]; }
};

// Largest value a field can hold: 255 for the rules, 65535 for the days.
uint32_t policy_field_max(PolicyField field);

// The value of a field's text: decimal digits only, within 0..policy_field_max.
std::optional<uint32_t> parse_policy_field(std::string_view text, PolicyField field);

// What the dialog says when a field cannot be saved; names the field and its range.
std::string policy_field_error(PolicyField field);

// The values the dialog opens with.
PolicyValues policy_values_of(const PinPolicyRecord& record);

// The record a save writes: the PIN state (digest and set time) of `stored`,
// everything else from `values`, which must be in range.
PinPolicyRecord policy_record_with(const PinPolicyRecord& stored, const PolicyValues& values);

} // namespace otp::pin
