#include "pin/PinAccess.h"

#include "core/Secret.h"
#include "pin/PinComplexity.h"

#include <openssl/evp.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <cstring>
#include <ctime>

using namespace otp::core;
using namespace otp::device;

namespace otp::pin {

namespace {

constexpr char kHasPinAlready[] = "The device has a PIN already.";
constexpr char kWrongPin[] = "Token PIN incorrect.";

// The key's failure, with its fault and status, worded for the user.
std::unexpected<OpError> reworded(OpError error, std::string detail)
{
    error.detail = std::move(detail);
    return std::unexpected(std::move(error));
}

int64_t now()
{
    return static_cast<int64_t>(std::time(nullptr));
}

bool digestIsEmpty(const PinPolicyRecord& record)
{
    return std::ranges::all_of(record.pinDigest, [](uint8_t b) { return b == 0; });
}

// Reads the record and checks the new PIN against it: the rules applied are
// always the ones on the key at the moment of the change.
OpResult<PinPolicyRecord> policyAdmitting(KeySession& device, std::string_view newPin)
{
    auto record = read_pin_policy(device);
    if (!record)
        return record;
    if (auto admitted = check_pin_complexity(newPin, *record); !admitted)
        return std::unexpected(admitted.error());
    return record;
}

} // namespace

std::array<uint8_t, kPinDigestSize> pin_digest(std::string_view pin)
{
    pin = pin.substr(0, std::min(pin.size(), pin.find('\0')));
    std::array<uint8_t, kPinDigestSize> digest{};
    unsigned int size = 0;
    // MD5 cannot fail for in-memory input with the default provider; should
    // it ever, the zero digest reads as "no PIN" rather than as a PIN.
    if (EVP_Digest(pin.data(), pin.size(), digest.data(), &size, EVP_md5(), nullptr) != 1 ||
        size != digest.size())
        digest.fill(0);
    return digest;
}

OpResult<bool> is_hwmaccess_empty(KeySession& device)
{
    const auto hasAccess = device.has_access();
    if (!hasAccess)
        return reworded(hasAccess.error(), "Failed to check if OTP is protected by PIN.");
    return !*hasAccess;
}

bool is_simaccess_empty(KeySession& device)
{
    auto record = read_pin_policy(device);
    if (!record) {
        spdlog::error(kNoPinRecordLine);
        return true;
    }
    return digestIsEmpty(*record);
}

OpResult<bool> is_access_empty(KeySession& device)
{
    if (device.is_hwmaccess_supported())
        return is_hwmaccess_empty(device);
    return is_simaccess_empty(device);
}

bool is_pin_policy_enabled(KeySession& device)
{
    return read_pin_policy(device).has_value();
}

OpResult<bool> verify_simaccess(KeySession& device, std::string_view pin)
{
    auto record = read_pin_policy(device);
    if (!record)
        return std::unexpected(record.error());
    return pin_digest(pin) == record->pinDigest;
}

OpResult<bool> verify_pin(KeySession& device, std::string_view pin)
{
    if (!device.is_hwmaccess_supported())
        return verify_simaccess(device, pin);
    // Changing the code to itself is the key's only way of checking it.
    const auto checked = device.change_access(pin, pin);
    if (checked)
        return true;
    if (checked.error().fault == Fault::Pin)
        return false;
    return reworded(checked.error(), "Failed to verify PIN.");
}

OpResult<void> set_hwmaccess(KeySession& device, std::string_view newPin)
{
    auto empty = is_hwmaccess_empty(device);
    if (!empty)
        return std::unexpected(empty.error());
    if (!*empty)
        return fail(Fault::Refused, kHasPinAlready);
    auto record = policyAdmitting(device, newPin);
    if (!record)
        return std::unexpected(record.error());
    record->pinSetTime = now();
    // The record goes first; if the key then refuses the code, the new set
    // time stays behind and the key keeps no access code.
    if (auto written = write_pin_policy(device, *record); !written)
        return written;
    if (const auto set = device.set_access(newPin); !set) {
        spdlog::error("[set_hwmaccess] Failed to set access. rv={}", set.error().status);
        return reworded(set.error(), "Failed to set access.");
    }
    return {};
}

OpResult<void> set_simaccess(KeySession& device, std::string_view newPin)
{
    if (!is_simaccess_empty(device))
        return fail(Fault::Refused, kHasPinAlready);
    auto record = policyAdmitting(device, newPin);
    if (!record)
        return std::unexpected(record.error());
    record->pinDigest = pin_digest(newPin);
    record->pinSetTime = now();
    return write_pin_policy(device, *record);
}

OpResult<void> change_hwmaccess(KeySession& device, std::string_view newPin,
                                std::string_view oldPin)
{
    if (oldPin.empty())
        return set_hwmaccess(device, newPin);
    auto record = policyAdmitting(device, newPin);
    if (!record)
        return std::unexpected(record.error());
    record->pinSetTime = now();
    // Written before the key has seen the old PIN: a wrong old PIN still
    // leaves the new set time on the key.
    if (auto written = write_pin_policy(device, *record); !written)
        return written;
    const auto changed = device.change_access(oldPin, newPin);
    if (changed)
        return {};
    if (changed.error().fault == Fault::Pin)
        return reworded(changed.error(), kWrongPin);
    return reworded(changed.error(), "Failed to change PIN.");
}

OpResult<void> change_simaccess(KeySession& device, std::string_view newPin,
                                std::string_view oldPin)
{
    if (oldPin.empty())
        return set_simaccess(device, newPin);
    auto matches = verify_simaccess(device, oldPin);
    if (!matches)
        return std::unexpected(matches.error());
    if (!*matches)
        return fail(Fault::Pin, kWrongPin);
    auto record = policyAdmitting(device, newPin);
    if (!record)
        return std::unexpected(record.error());
    record->pinDigest = pin_digest(newPin);
    record->pinSetTime = now();
    return write_pin_policy(device, *record);
}

OpResult<void> change_pin(KeySession& device, std::string_view newPin, std::string_view oldPin)
{
    if (device.is_hwmaccess_supported())
        return change_hwmaccess(device, newPin, oldPin);
    return change_simaccess(device, newPin, oldPin);
}

OpResult<std::string> query_pin(KeySession& device, const std::string& cachedPinUtf8,
                                const PinPrompt& askPin)
{
    auto empty = is_access_empty(device);
    if (!empty) {
        // Every protected operation logs under the same routine name.
        spdlog::error("[OnBnClickedGetOTP] Failed to query access empty.");
        return std::unexpected(empty.error());
    }
    if (*empty || !cachedPinUtf8.empty())
        return cachedPinUtf8;

    // A dismissed prompt is not a cancel: its empty text is checked like any
    // other PIN, so the operation goes on only if the key accepts it.
    auto entered = askPin ? askPin() : OpResult<std::string>();
    if (!entered)
        return entered;
    auto matches = verify_pin(device, *entered);
    if (!matches) {
        OpError error = matches.error();
        error.fault = Fault::Pin;
        return reworded(std::move(error), "Failed to verify PIN. Error: " + matches.error().detail);
    }
    if (!*matches) {
        wipe(entered->data(), entered->capacity());
        return fail(Fault::Pin, "PIN is incorrect.");
    }
    return entered;
}

} // namespace otp::pin
