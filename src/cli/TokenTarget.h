#pragma once

// What otp and remove both need before they may touch a token: the one key
// plugged in, its access text (asking for the PIN when the key has one) and
// the token with the serial number the user named.

#include "cli/CliContext.h"

#include <optional>
#include <string>

namespace otp::cli {

struct TokenTarget
{
    std::string keySerial;
    core::Password access;
    device::ListedToken token;
};

// Reports the failure through the context and answers nothing when the key,
// the PIN or the token is missing.
std::optional<TokenTarget> find_token_target(CliContext& context, device::KeySession& key,
                                             const std::string& serial);

} // namespace otp::cli
