#pragma once

// Setting, changing and verifying the user's PIN. A key with an access-code
// function (hardware mode, "PIN protection mode 0") keeps the PIN as its
// access code and checks it itself; a key without one (software mode, mode 1)
// gets the MD5 of the PIN stored in the policy record, and we compare digests.
// The mode is probed once per KeySession, that is once per operation; nothing
// is remembered from one operation to the next.
//
// PINs are UTF-8 bytes. None of these functions ever logs a PIN.

#include "core/Error.h"
#include "device/KeySession.h"
#include "pin/PinPolicyRecord.h"
#include "pin/PinResult.h"

#include <functional>
#include <string>
#include <string_view>

// MD5 of the PIN's bytes up to its first zero byte, as software mode stores it.
std::array<uint8_t, kPinDigestSize> pin_digest(std::string_view pin);

PinResult<bool> is_hwmaccess_empty(KeySession& device);
// An unreadable record counts as "no PIN" (and is logged), never as an error.
bool is_simaccess_empty(KeySession& device);
PinResult<bool> is_access_empty(KeySession& device);
// True exactly when a valid record with `enabled` set is on the key.
bool is_pin_policy_enabled(KeySession& device);

PinResult<bool> verify_simaccess(KeySession& device, std::string_view pin);
PinResult<bool> verify_pin(KeySession& device, std::string_view pin);

PinResult<void> set_hwmaccess(KeySession& device, std::string_view newPin);
PinResult<void> set_simaccess(KeySession& device, std::string_view newPin);
// An empty oldPin means "no PIN yet" and sets the first one.
PinResult<void> change_hwmaccess(KeySession& device, std::string_view newPin,
                                 std::string_view oldPin);
PinResult<void> change_simaccess(KeySession& device, std::string_view newPin,
                                 std::string_view oldPin);
PinResult<void> change_pin(KeySession& device, std::string_view newPin, std::string_view oldPin);

// Asks the user for the PIN and returns what was typed (UTF-8), empty when
// nothing was typed or the prompt was dismissed.
using PinPrompt = std::function<std::string()>;

// The PIN a protected operation passes to the key. Prompts only when a PIN is
// set and nothing is cached; a cached PIN is handed back unverified. The
// window-level query_pin_ifn (pin/QueryPin.h) puts the PIN dialog behind
// the prompt.
PinResult<std::string> query_pin(KeySession& device, const std::string& cachedPinUtf8,
                                 const PinPrompt& askPin);

// query_pin for a front end that tells its user why it stops: a failure after
// the user was asked is a Pin fault (wrong, missing or uncheckable PIN), one
// before is the key's (Device).
OpResult<std::string> access_for_operation(KeySession& device, const std::string& cachedPinUtf8,
                                           const PinPrompt& askPin);
