#pragma once

// The complexity rules a new PIN must meet, taken from the policy record.
// Pure: no key, no window.

#include "pin/PinPolicyRecord.h"

#include <string_view>

namespace otp::pin {

// pin is UTF-8; its byte count is its length, and every byte that is not an
// ASCII letter or digit counts as special. enabled, pinDigest, pinSetTime and
// expiryDays of the record play no part. Refused, naming the first rule
// broken, when the PIN does not meet them.
core::OpResult<void> check_pin_complexity(std::string_view pin, const PinPolicyRecord& record);

} // namespace otp::pin
