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

inline constexpr std::array<PolicyField, kPolicyFieldCount> kPolicyFields = {
    PolicyField::MinLength,    PolicyField::MinNumeric, PolicyField::MinLowercase,
    PolicyField::MinUppercase, PolicyField::MinSpecial, PolicyField::MaxSequential,
    PolicyField::MaxRepeating, PolicyField::ExpiryDays};

// The option name of each field, in the dialog's order: "min-length", ...
const char* policy_option_name(PolicyField field);

// The new PIN: the first line of `file` ("-": standard input), or typed twice
// at the terminal without echo. Refused when empty, when the two differ, or
// without a file and without a terminal (naming --new-pin-file).
OpResult<Password> read_new_pin(const std::string& file, std::ostream& err);

// "min-length=6,max-repeating=2": the fields named take those values, the
// others keep theirs; each value within the dialog's limits.
OpResult<void> apply_policy_list(const std::string& list, PolicyValues& values);

// Writes the policy record built from `values` on the key (the PIN's digest
// and set time carried over); the key waits for a touch.
OpResult<void> write_policy(CliContext& context, KeySession& key, const PolicyValues& values);

// Sets the first PIN (currentPin empty) or changes it, checked first against
// the policy on the key, as the Update PIN dialog checks it.
OpResult<void> write_new_pin(CliContext& context, KeySession& key, std::string_view newPin,
                             std::string_view currentPin);

// A PIN operation's failure behind the window's prefix for it.
OpError pin_failure(OpError error, const std::string& doing = {});
