#pragma once

// A new token as the New Token dialog and the command line take it: the
// choices and the texts as typed, checked and decoded into the TokenDescription
// that programs the key and goes to every record.

#include "core/Error.h"
#include "core/TokenDescription.h"
#include "core/TokenText.h"

#include <string>
#include <string_view>

namespace otp::programming {

struct NewTokenInput
{
    core::OtpAlgorithm algorithm = core::OtpAlgorithm::Totp;
    core::OtpHash hash = core::OtpHash::Sha1;
    int digits = 6;
    int interval = 30;
    std::string serial;  // UTF-8, as typed
    std::string seedHex; // hexadecimal, as typed
    // A seed generated as bytes, checked as they are instead of seedHex: it
    // never becomes text on its way to the key.
    core::SecretBytes seed;
    std::string user; // UTF-8, as typed; may be empty

    // The seed's text is as secret as the seed.
    ~NewTokenInput() { core::wipe(seedHex.data(), seedHex.capacity()); }
};

// The status-line text for seed text that is not hexadecimal.
inline constexpr const char* kInvalidSeedFormat = "Invalid seed format!";

// Checks the input and decodes the seed. Refused, with the text for the
// dialog's status line, when the key or a seed file could not take the token
// as it stands: an empty serial number or one longer than the key's 13
// characters; a seed that is not hexadecimal, not exactly the length of the
// chosen hash, or all zero (no generator gives one: a seed typed by mistake);
// a serial number or user name that is not valid UTF-8, or that holds a
// control character, which XML 1.0 cannot carry, so that one token would
// make a whole seed or PSKC file unreadable to a strict parser.
// What a particular record's format cannot hold is for its recorder to refuse.
core::OpResult<core::TokenDescription> check_new_token(const NewTokenInput& input);

// The user name's part of check_new_token, for a user given before the rest
// of the token is known (a batch's users file is checked before any key), is
// check_user_name (core/TokenText.h).

} // namespace otp::programming
