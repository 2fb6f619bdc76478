#pragma once

// What one virtual key holds, and its JSON form on disk.

#include "Failure.h"

#include <VN_Manager.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vkey {

enum class TouchMode { Auto, Manual, Never };

struct TouchSetting
{
    TouchMode mode = TouchMode::Auto;
    int delayMs = 300;     // auto: how long the "finger" takes
    int timeoutMs = 30000; // manual and never: how long an operation waits
    bool operator==(const TouchSetting&) const = default;
};

// An OTP token, or the record in slot 1 (whose counter stays 0).
struct Token
{
    uint32_t type = 0;
    uint32_t hash = 0;
    uint32_t digits = 0;
    uint32_t interval = 0;
    std::string serial; // 8-bit text, no NUL
    std::vector<uint8_t> seed;
    uint64_t counter = 0; // HOTP moving factor
    bool operator==(const Token&) const = default;
};

struct KeyState
{
    std::string serial;
    bool hardwareAccess = true; // has the access-code function (PIN protection mode 0)
    std::optional<std::string> accessCode;
    bool enter = false;
    TouchSetting touch;
    std::optional<Token> pinRecord;
    std::vector<Token> tokens; // programming order
    bool operator==(const KeyState&) const = default;
};

inline constexpr std::size_t kMaxAccessCodeLength = 64;
inline constexpr std::size_t kMaxKeySerialLength = 63;
inline constexpr int kMaxTouchMs = 3600 * 1000;

// Key serials name files, so they stay within [A-Za-z0-9_-].
bool isValidKeySerial(std::string_view serial);
// The fields a key accepts for an OTP token (HOTP/TOTP, SHA-1/SHA-256, ...).
bool isValidOtpToken(const Token& token);

std::string toJson(const KeyState& key);
// VN_ERR_CORRUPT_KEY for anything that is not a whole, consistent key.
Result<KeyState> fromJson(std::string_view text);

const char* touchModeName(TouchMode mode);

} // namespace vkey
