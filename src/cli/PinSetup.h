#pragma once

// What `pin policy`, `pin set`, `pin change` and `batch --pin-policy
// --new-pin-file` share: the policy fields with the PIN Policy dialog's
// limits, the new PIN read from a file or typed twice at the terminal, and
// the steps that write them to a key with the window's checks and texts.

#include "cli/CliContext.h"
#include "pin/PinPolicyForm.h"

#include <CLI/CLI.hpp>

#include <array>
#include <optional>
#include <string>

namespace otp::cli {

inline constexpr std::array<pin::PolicyField, pin::kPolicyFieldCount> kPolicyFields = {
    pin::PolicyField::MinLength,    pin::PolicyField::MinNumeric, pin::PolicyField::MinLowercase,
    pin::PolicyField::MinUppercase, pin::PolicyField::MinSpecial, pin::PolicyField::MaxSequential,
    pin::PolicyField::MaxRepeating, pin::PolicyField::ExpiryDays};

// The option name of each field, in the dialog's order: "min-length", ...
const char* policy_option_name(pin::PolicyField field);

// The new PIN: the first line of `file` ("-": standard input), or typed twice
// at the terminal without echo. Refused when empty, when the two differ, or
// without a file and without a terminal (naming --new-pin-file).
core::OpResult<core::Password> read_new_pin(const std::string& file, std::ostream& err);

// "min-length=6,max-repeating=2": the fields named take those values, the
// others keep theirs; each value within the dialog's limits.
core::OpResult<void> apply_policy_list(const std::string& list, pin::PolicyValues& values);

// Writes the policy record built from `values` on the key (the PIN's digest
// and set time carried over); the key waits for a touch.
core::OpResult<void> write_policy(CliContext& context, device::KeySession& key,
                                  const pin::PolicyValues& values);

// Sets the first PIN (currentPin empty) or changes it, checked first against
// the policy on the key, as the Update PIN dialog checks it.
core::OpResult<void> write_new_pin(CliContext& context, device::KeySession& key,
                                   std::string_view newPin, std::string_view currentPin);

// A PIN operation's failure behind the window's prefix for it.
core::OpError pin_failure(core::OpError error, const std::string& doing = {});

} // namespace otp::cli
