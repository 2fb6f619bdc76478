#pragma once

// Programming one token on the key already found, as the New Token dialog's
// Save and the command line's program and batch do it: the recorders' locks
// and checks, the key, the records, the ENTER flag and, when asked, the
// verification. It says what happened and leaves the wording to each front
// end.

#include "core/Error.h"
#include "core/TokenDescription.h"
#include "device/KeySession.h"
#include "records/Recorder.h"

#include <chrono>
#include <ctime>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace otp::programming {

struct ProgramRequest
{
    core::TokenDescription token;
    std::string keySerial;      // of the key found for this operation
    core::Password access = {}; // what the key takes as its access code; empty without a PIN
    bool appendEnter = true;
    bool verify = false; // TOTP only: compare the key's OTP with the seed's afterwards
    // How long to wait for another writer of the recorders' folders.
    std::chrono::milliseconds lockPatience{10'000};
};

// What --verify compared: the OTP the key computed and the one the seed gives.
struct Verification
{
    std::time_t at = 0;
    std::string keyOtp;
    std::string seedOtp;
};

struct ProgrammedToken
{
    core::TokenDescription token;
    std::string keySerial;
    std::vector<records::RecordOutcome> records;              // every recorder's files, in order
    core::OpResult<void> enter;                               // setting the key's ENTER flag
    std::optional<core::OpResult<Verification>> verification; // when asked for

    // False when a record could not be written: the token is on the key but
    // its seed must be copied by hand, or the authentication server never
    // learns it.
    bool recorded() const;
};

struct ProgramEvents
{
    // Right before each call that waits for the key's touch.
    std::function<void()> touch;
    // The key took the token; the records are written next.
    std::function<void()> keyTookToken;
    // The records are written (or could not be), before anything else can
    // fail or wait: a front end reports an unrecorded seed here.
    std::function<void(const core::TokenDescription&, const std::vector<records::RecordOutcome>&)>
        recorded;
};

// Takes the recorders' locks and asks each to check the token, then
// programs the key, records the token (the locks are held until then), sets
// the ENTER flag and verifies when asked. Fails before the key is touched
// when a lock cannot be had or a recorder refuses; fails with Device when the
// key does not take the token, and nothing is recorded. Once the key has
// taken the token the answer is a ProgrammedToken, whatever failed after.
core::OpResult<ProgrammedToken> program_token(device::KeySession& key,
                                              const ProgramRequest& request,
                                              std::span<records::Recorder* const> recorders,
                                              const ProgramEvents& events = {});

// A fresh random seed of the length the hash needs.
core::OpResult<core::SecretBytes> generate_seed_bytes(core::OtpHash hash);
// The same as uppercase hexadecimal, for a dialog that shows it.
core::OpResult<std::string> generate_seed_text(core::OtpHash hash);

// The next serial number for a token on the key `keySerial`, whose tokens are
// listed afresh. The serials in `held`, which the files the token goes to
// hold already (a token of a key since reset), are skipped as well.
core::OpResult<std::string> propose_serial(device::KeySession& key, const std::string& keySerial,
                                           std::span<const std::string> held = {});

// The OTP a TOTP token gives at `now`, computed from its seed apart from the key.
std::string expected_totp(const core::TokenDescription& token, std::time_t now);

} // namespace otp::programming
