#pragma once

// One operation's conversation with the key, typed: a TokenDescription goes
// in, listed tokens come out as values, texts go to the device library as
// pointer and length, and every status comes back as an OpError with the
// status kept (a wrong access code is a Pin fault, no touch in time TimedOut,
// anything else Device). A listing ends at its first empty serial number, and
// the PIN-mode probe is asked once per session. A session lives for one
// operation (a button's click, a command), so nothing the key says is
// remembered from one operation to the next. Every call still goes through
// DeviceApi, where tests inject statuses.
//
// The device library's records and constants stay behind this file: the
// rest of the program never sees them.

#include "core/Error.h"
#include "core/TokenDescription.h"

#include <array>
#include <cstddef>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace otp::device {

class DeviceApi;

// The most tokens a key holds, so the most a listing gives.
inline constexpr int kMaxTokens = 20;

enum class TokenType { Hotp, Totp, StaticPassword, ChallengeResponse };

// A field of a listed token: its value, or std::nullopt when the key holds
// none of the values this program knows. A damaged record stays
// recognisable instead of reading as a plausible number.
template <class T> using Known = std::optional<T>;

// The key's own record of a listed token, exactly as the listing gave it:
// computing an OTP and removing the token hand it back unchanged. Opaque
// bytes; only the session reads them.
struct KeyRecord
{
    static constexpr std::size_t kSize = 152;
    alignas(4) std::array<std::byte, kSize> bytes{};
};

struct ListedToken
{
    std::string serial; // the key's 8-bit text, as stored
    Known<TokenType> type;
    Known<core::OtpHash> hash;
    Known<int> digits;   // 6 or 8
    Known<int> interval; // 30 or 60 seconds; stored for HOTP tokens too
    KeyRecord record;
};

class KeySession
{
public:
    explicit KeySession(DeviceApi& device) : m_device(device) {}

    DeviceApi& device() { return m_device; }

    // The serial number of the one key plugged in. NoKey or MultipleKeys
    // (status set to the library's answer), KeyUnreadable when the key was
    // listed but its information could not be read, Device for any other
    // listing status.
    core::OpResult<std::string> find_key();

    // The tokens in the order the key lists them, up to the first empty serial.
    core::OpResult<std::vector<ListedToken>> tokens();

    // The text the PIN policy is kept in: the serial field of the pseudo-token
    // in slot 1, up to its first zero byte.
    core::OpResult<std::string> pin_record_text();
    // Replaces that pseudo-token (a TOTP token with a filler seed, never asked
    // for an OTP). No access code. Waits for a touch.
    core::OpResult<void> write_pin_record(std::string_view text);

    // These wait for a touch on the key; the caller shows its prompt first.
    core::OpResult<void> personalize(const core::TokenDescription& token, std::string_view access);
    // The OTP at `at`: the key takes a TOTP token's time step from the local
    // time sent with the call; other tokens get no challenge.
    core::OpResult<std::string> calculate(const ListedToken& token, std::time_t at,
                                          std::string_view access);
    // The same for a token just programmed, described as it was.
    core::OpResult<std::string> calculate(const core::TokenDescription& token, std::time_t at,
                                          std::string_view access);
    core::OpResult<void> remove(const ListedToken& token, std::string_view access);
    core::OpResult<void> reset();

    // Whether the key types ENTER after an OTP; the flag is the key's, not a token's.
    core::OpResult<void> set_enter(bool appendEnter);

    // The access code of a key in hardware PIN mode. A wrong code is a Pin fault.
    core::OpResult<bool> has_access();
    core::OpResult<void> set_access(std::string_view code);
    // Also how the key checks a code: changing it to itself.
    core::OpResult<void> change_access(std::string_view oldCode, std::string_view newCode);

    // True when the key has an access-code function ("PIN protection mode 0"):
    // changing the fixed probe code to itself answers anything but "no
    // hardware access". Asked once per session.
    bool is_hwmaccess_supported();

private:
    DeviceApi& m_device;
    std::optional<bool> m_hardwareMode;
};

} // namespace otp::device
