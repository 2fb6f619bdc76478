#pragma once

// One operation's conversation with the key, typed: texts go to the device
// library as pointer and length, statuses come back as OpError (Device, with
// the status), a listing ends at its first empty serial number, and the
// PIN-mode probe is asked once per session. A session lives for one
// operation (a button's click, a command), so nothing the key says is
// remembered from one operation to the next. Every call still goes through
// DeviceApi, where tests inject statuses.

#include "core/Error.h"
#include "device/DeviceApi.h"

#include <array>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The challenge of VN_OTP_Calculate: the key derives the time step of a TOTP
// token from the local time we send ("%Y-%m-%d %H:%M:%S"); every other token
// gets nothing.
struct Challenge
{
    std::array<char, VN_CHALLENGE_BUFFER_SIZE> text{};
    uint32_t length = 0;
};
Challenge challenge_for(const OtpTokenRecord& record, std::time_t now);

// The text of a fixed-size field up to its first zero byte (or its end).
std::string field_text(const char* field, std::size_t size);
std::string token_serial(const OtpTokenRecord& record);

class KeySession
{
public:
    explicit KeySession(DeviceApi& device) : m_device(device) {}

    DeviceApi& device() { return m_device; }

    // The serial number of the one key plugged in. NoKey or MultipleKeys
    // (status set to the library's answer), KeyUnreadable when the key was
    // listed but its information could not be read, Device for any other
    // listing status.
    OpResult<std::string> find_key();

    // The tokens in the order the key lists them, up to the first empty serial.
    OpResult<std::vector<OtpTokenRecord>> tokens();
    // The record in slot 1, which carries the PIN policy.
    OpResult<OtpTokenRecord> pin_record();

    // These wait for a touch on the key; the caller shows its prompt first.
    OpResult<void> personalize(const OtpTokenRecord& record, std::string_view access);
    OpResult<void> write_pin_record(const OtpTokenRecord& record); // no access code
    OpResult<std::string> calculate(const OtpTokenRecord& record, const Challenge& challenge,
                                    std::string_view access);
    OpResult<void> remove(OtpTokenRecord record, std::string_view access);
    OpResult<void> reset();

    // Whether the key types ENTER after an OTP; the flag is the key's, not a token's.
    OpResult<void> set_enter(bool appendEnter);

    // The access code of a key in hardware PIN mode.
    OpResult<bool> has_access();
    OpResult<void> set_access(std::string_view code);
    // Also how the key checks a code: changing it to itself.
    OpResult<void> change_access(std::string_view oldCode, std::string_view newCode);

    // True when the key has an access-code function ("PIN protection mode 0"):
    // changing the fixed probe code to itself answers anything but
    // VN_ERR_NO_HW_ACCESS. Asked once per session.
    bool is_hwmaccess_supported();

private:
    DeviceApi& m_device;
    std::optional<bool> m_hardwareMode;
};
