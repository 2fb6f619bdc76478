#pragma once

// Provisioning a stack of keys one after another: wait until exactly one key
// is plugged in that this run has not programmed, program its tokens with
// proposed serial numbers and generated seeds, wait until it is pulled out,
// and go on. A key offered a second time is refused, not programmed twice.
// With users, key N is for user N and the run ends when the users run out.

#include "cli/HeldSerials.h"
#include "cli/TokenOptions.h"
#include "cli/UsersFile.h"
#include "pin/PinPolicyForm.h"

#include <chrono>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace otp::cli {

struct BatchSettings
{
    int keys = 0; // 0 with users: one key per user
    // One per key in order (--users); empty: every key's tokens get token.user.
    std::vector<ListedUser> users;
    int tokensPerKey = 1;
    TokenOptions token;
    // Written on each key before its tokens: the policy, then the PIN.
    std::optional<pin::PolicyValues> pinPolicy;
    std::optional<core::Password> newPin;
    std::chrono::milliseconds poll{100};
};

// A key that did not get all its tokens, and why.
struct FailedKey
{
    int number = 0; // from 1
    std::string keySerial;
    std::string user;
    std::string reason;
};

struct BatchSummary
{
    int keysProgrammed = 0;
    int keysFailed = 0;
    int tokensProgrammed = 0;
    int tokensFailed = 0;
    bool interrupted = false;
    std::optional<int> usersLeft; // with --users: those no key was offered for
    int exitCode = 0;             // of the first failure
    nlohmann::json keys = nlohmann::json::array();
    std::vector<FailedKey> failures;
    int keysOffered = 0;
};

// Serials are proposed past those `held` names, which grows with each token.
BatchSummary run_batch(CliContext& context, const BatchSettings& settings,
                       std::span<records::Recorder* const> recorders, HeldSerials& held);
// Serials are proposed past those on each key only.
inline BatchSummary run_batch(CliContext& context, const BatchSettings& settings,
                              std::span<records::Recorder* const> recorders)
{
    HeldSerials held;
    return run_batch(context, settings, recorders, held);
}

} // namespace otp::cli
