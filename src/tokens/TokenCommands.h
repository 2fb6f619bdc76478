#pragma once

// The key's token commands without any window: listing, computing an OTP,
// removing a token, resetting the key, the ENTER flag and what a key reports
// about itself. The main window and the command line call these; the asking
// for a PIN and the showing of results stay with them.

#include "device/DeviceApi.h"
#include "device/OpResult.h"

#include <array>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

// The tokens in the order the key lists them, up to the first empty serial.
OpResult<std::vector<OtpTokenRecord>> list_tokens(DeviceApi& device);

std::string token_serial(const OtpTokenRecord& record);

// The listed token with this serial number; Refused when the key has none.
OpResult<OtpTokenRecord> token_with_serial(DeviceApi& device, std::string_view serial);

// The challenge buffer of VN_OTP_Calculate: the key derives the time step of a
// TOTP token from the local time we send; every other token gets nothing.
struct Challenge
{
    std::array<char, VN_CHALLENGE_BUFFER_SIZE> text{};
    uint32_t length = 0;
};
Challenge challenge_for(const OtpTokenRecord& record, std::time_t now);

// The key waits for a touch in each of these; the caller shows its prompt first.
OpResult<std::string> compute_otp(DeviceApi& device, const OtpTokenRecord& record,
                                  std::string_view access, std::time_t now);
OpResult<void> remove_token(DeviceApi& device, OtpTokenRecord record, std::string_view access);
OpResult<void> reset_key(DeviceApi& device);

// Whether the key types ENTER after an OTP; the flag is the key's, not a token's.
OpResult<void> set_enter_flag(DeviceApi& device, bool appendEnter);

// "TOTP = " for time-based tokens; static-password and challenge-response
// tokens share the HOTP label.
const char* otp_label(const OtpTokenRecord& record);

struct KeyInfo
{
    std::string serial;
    int pinMode = 0; // 0: the key checks the PIN itself (hardware), 1: software
    bool pinPolicyOn = false;
    bool pinSet = false;
    int tokenCount = 0;
};

// Everything the key says about itself; fails when there is not exactly one key.
OpResult<KeyInfo> describe_key(DeviceApi& device);
