#pragma once

// Programming one token, as the New Token dialog's Save and the command line
// do it: the checks of the form, the record sent to the key, the recording of
// the seed and the result. The asking for input stays with the front end.

#include "device/DeviceApi.h"
#include "device/OpResult.h"
#include "programming/NewToken.h"
#include "programming/TokenRecorder.h"

#include <ctime>
#include <functional>
#include <span>
#include <string>
#include <string_view>

// Called right before the call that waits for the key's touch.
using TouchPrompt = std::function<void()>;

struct ProgrammedToken
{
    SeedFileToken token;
    // The Messages-panel lines: the success line with SN and SEED, then one
    // line per seed record that could not be written.
    QString resultText;
    // Empty when every recorder took the token. Otherwise the token is on the
    // key but not (fully) recorded: the administrator must copy it by hand.
    QString recordFailures;
};

// Refused with the status-line text when the form does not pass
// check_new_token; Device (message: the failure line for the Messages panel)
// when the key does not take the token. On success every recorder has been
// asked to record the token.
OpResult<ProgrammedToken> program_token(DeviceApi& device, std::string_view access,
                                        const NewTokenForm& form,
                                        std::span<TokenRecorder* const> recorders,
                                        const TouchPrompt& touchPrompt);

// A fresh random seed of the length the hash needs, as uppercase hexadecimal.
OpResult<QString> generate_seed_text(OtpHash hash);

// The next serial number for a token on the one plugged-in key.
OpResult<std::string> propose_serial(DeviceApi& device);

// The OTP a TOTP token gives at `now`, computed from its seed apart from the key.
std::string expected_totp(const SeedFileToken& token, std::time_t now);

// Asks the key for the token's current value and compares it with the value
// its seed gives: Mismatch when they differ, Refused for a HOTP token (its
// counter would move). The key waits for a touch.
OpResult<void> verify_token(DeviceApi& device, const SeedFileToken& token, std::string_view access,
                            std::time_t now);
