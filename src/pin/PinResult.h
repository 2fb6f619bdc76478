#pragma once

// Results of the PIN operations: a value, or an Err whose message is the
// user-facing text (UTF-8) that the caller shows as it is or behind a prefix.

#include <cstdint>
#include <expected>
#include <string>

struct Err
{
    // 0: general failure; 1: the key was not touched in time; 2: wrong PIN.
    int32_t code = 0;
    std::string message;

    bool operator==(const Err&) const = default;
};

namespace ErrCode {
inline constexpr int32_t General = 0;
inline constexpr int32_t Timeout = 1;
inline constexpr int32_t WrongPin = 2;
} // namespace ErrCode

template <class T> using PinResult = std::expected<T, Err>;

// An Err with the standard message of its code: "Token timed out." for 1,
// "Token PIN incorrect." for 2, nothing for any other code.
Err err_from_code(int32_t code);
