#pragma once

// The key's tokens without any window: how a listed token reads, finding the
// token the user named, and what a key reports about itself. The main window
// and the command line call these; asking for a PIN and showing results stay
// with them.

#include "core/Error.h"
#include "device/KeySession.h"

#include <array>
#include <string>
#include <string_view>

namespace otp::tokens {

// "HOTP", "TOTP", "STATIC_PASSWORD", "CHALLENGE_RESPONSE".
std::string_view token_type_name(device::TokenType type);

// The five texts of a listed token: serial, OTP type, hash, digits, interval.
// A value the tool does not know reads "N/A", so that a damaged record is
// recognisable instead of showing a plausible number.
std::array<std::string, 5> token_cells(const device::ListedToken& token);

// "TOTP = " for time-based tokens; static-password and challenge-response
// tokens, and tokens of no known type, share the HOTP label.
const char* otp_label(const device::ListedToken& token);

// The listed token with this serial number; Refused when the key has none.
core::OpResult<device::ListedToken> token_with_serial(device::KeySession& key,
                                                      std::string_view serial);

// The record behind row `row` of a list the user saw, from a fresh listing.
// Row i showed record i of the listing at the last refresh; the serial shown
// in the row proves that this still holds. StaleList when someone changed
// the key behind the list: acting on the record now at that position would
// compute from, or delete, a token the user never selected.
core::OpResult<device::ListedToken> listed_token_at(device::KeySession& key, int row,
                                                    std::string_view shownSerial);

struct KeyInfo
{
    std::string serial;
    int pinMode = 0; // 0: the key checks the PIN itself (hardware), 1: software
    bool pinPolicyOn = false;
    bool pinSet = false;
    int tokenCount = 0;
};

// Everything the key says about itself; fails when there is not exactly one key.
core::OpResult<KeyInfo> describe_key(device::KeySession& key);

} // namespace otp::tokens
