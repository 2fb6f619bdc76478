#pragma once

// Setting, changing and verifying the user's PIN. A key with an access-code
// function (hardware mode, "PIN protection mode 0") keeps the PIN as its
// access code and checks it itself; a key without one (software mode, mode 1)
// gets the MD5 of the PIN stored in the policy record, and we compare digests.
// The mode is probed once per KeySession, that is once per operation; nothing
// is remembered from one operation to the next.
//
// Failures are OpErrors whose detail is the text the window shows as it is or
// behind a prefix of its own; a failure the key answered keeps its status. A
// wrong PIN is a Pin fault, a key not touched in time TimedOut, a PIN the
// policy refuses (or a set while one exists) Refused.
//
// PINs are UTF-8 bytes. None of these functions ever logs a PIN.

#include "core/Error.h"
#include "device/KeySession.h"
#include "pin/PinPolicyRecord.h"

#include <functional>
#include <string>
#include <string_view>

namespace otp::pin {

// MD5 of the PIN's bytes up to its first zero byte, as software mode stores it.
std::array<uint8_t, kPinDigestSize> pin_digest(std::string_view pin);

core::OpResult<bool> is_hwmaccess_empty(device::KeySession& device);
// An unreadable record counts as "no PIN", never as an error; it is logged
// as kNoPinRecordLine.
bool is_simaccess_empty(device::KeySession& device);
core::OpResult<bool> is_access_empty(device::KeySession& device);
// True exactly when a valid record with `enabled` set is on the key.
bool is_pin_policy_enabled(device::KeySession& device);

core::OpResult<bool> verify_simaccess(device::KeySession& device, std::string_view pin);
core::OpResult<bool> verify_pin(device::KeySession& device, std::string_view pin);

core::OpResult<void> set_hwmaccess(device::KeySession& device, std::string_view newPin);
core::OpResult<void> set_simaccess(device::KeySession& device, std::string_view newPin);
// An empty oldPin means "no PIN yet" and sets the first one.
core::OpResult<void> change_hwmaccess(device::KeySession& device, std::string_view newPin,
                                      std::string_view oldPin);
core::OpResult<void> change_simaccess(device::KeySession& device, std::string_view newPin,
                                      std::string_view oldPin);
core::OpResult<void> change_pin(device::KeySession& device, std::string_view newPin,
                                std::string_view oldPin);

// The error-log line of a software-mode key whose PIN record cannot be read.
// The window logs it at error level; on the command line, where a key
// without a PIN is the normal case, it is a note.
inline constexpr char kNoPinRecordLine[] = "[is_simaccess_empty] Failed to read pin policy.";

// Asks the user for the PIN: what was typed (UTF-8), empty when nothing was
// typed or the prompt was dismissed; or a failure when there is no PIN to be
// had (a command line without a PIN source), which ends the operation
// without the key being asked.
using PinPrompt = std::function<core::OpResult<std::string>()>;

// The PIN a protected operation passes to the key. Prompts only when a PIN is
// set and nothing is cached; a cached PIN is handed back unverified. A
// failure before the prompt is the key's; the prompt's own failure comes back
// unchanged; a typed PIN that is wrong or cannot be checked is a Pin fault.
// The window-level query_pin_ifn (pin/QueryPin.h) puts the PIN dialog behind
// the prompt.
core::OpResult<std::string> query_pin(device::KeySession& device, const std::string& cachedPinUtf8,
                                      const PinPrompt& askPin);

} // namespace otp::pin
