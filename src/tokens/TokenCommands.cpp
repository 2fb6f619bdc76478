#include "tokens/TokenCommands.h"

#include "device/AnsiText.h"
#include "device/Discovery.h"
#include "pin/HwModeProbe.h"
#include "pin/PinAccess.h"

#include <algorithm>

namespace {

uint32_t length(std::string_view text)
{
    return static_cast<uint32_t>(text.size());
}

// Never a null pointer, even for an empty access text.
const char* bytes(std::string_view text)
{
    return text.empty() ? "" : text.data();
}

OpResult<void> done(uint32_t status)
{
    if (status != VN_OK)
        return std::unexpected(device_fault(status));
    return {};
}

} // namespace

OpResult<std::vector<OtpTokenRecord>> list_tokens(DeviceApi& device)
{
    std::array<OtpTokenRecord, VN_MAX_TOKENS> listing{};
    if (const uint32_t status = device.OtpList(VN_SLOT_ALL, listing.data()); status != VN_OK)
        return std::unexpected(device_fault(status));
    const auto end = std::ranges::find_if(
        listing, [](const OtpTokenRecord& record) { return record.serial[0] == '\0'; });
    return std::vector<OtpTokenRecord>(listing.begin(), end);
}

std::string token_serial(const OtpTokenRecord& record)
{
    return fieldText(record.serial, sizeof record.serial);
}

OpResult<OtpTokenRecord> token_with_serial(DeviceApi& device, std::string_view serial)
{
    auto tokens = list_tokens(device);
    if (!tokens)
        return std::unexpected(tokens.error());
    const auto found = std::ranges::find_if(
        *tokens, [&](const OtpTokenRecord& record) { return token_serial(record) == serial; });
    if (found == tokens->end())
        return std::unexpected(OpError{
            Fault::Refused, 0,
            QStringLiteral("The key holds no token SN=%1.").arg(fromAnsi(std::string(serial)))});
    return *found;
}

Challenge challenge_for(const OtpTokenRecord& record, std::time_t now)
{
    Challenge challenge;
    if (record.type != VN_TYPE_TOTP)
        return challenge;
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    challenge.length = static_cast<uint32_t>(
        std::strftime(challenge.text.data(), challenge.text.size(), "%Y-%m-%d %H:%M:%S", &local));
    return challenge;
}

OpResult<std::string> compute_otp(DeviceApi& device, const OtpTokenRecord& record,
                                  std::string_view access, std::time_t now)
{
    const Challenge challenge = challenge_for(record, now);
    std::array<char, VN_OTP_BUFFER_SIZE> otp{};
    uint32_t reserved = 0;
    const uint32_t status =
        device.OtpCalculate(record, challenge.text.data(), challenge.length, otp.data(), &reserved,
                            bytes(access), length(access));
    if (status != VN_OK)
        return std::unexpected(device_fault(status));
    return fieldText(otp.data(), otp.size());
}

OpResult<void> remove_token(DeviceApi& device, OtpTokenRecord record, std::string_view access)
{
    record.slot = VN_SLOT_ALL;
    return done(device.OtpDelete(record, bytes(access), length(access)));
}

OpResult<void> reset_key(DeviceApi& device)
{
    return done(device.OtpReset());
}

OpResult<void> set_enter_flag(DeviceApi& device, bool appendEnter)
{
    return done(device.OtpSetValueWithEnter(appendEnter ? 1 : 0));
}

const char* otp_label(const OtpTokenRecord& record)
{
    return record.type == VN_TYPE_TOTP ? "TOTP = " : "HOTP = ";
}

OpResult<KeyInfo> describe_key(DeviceApi& device)
{
    auto serial = find_the_key(device);
    if (!serial)
        return std::unexpected(serial.error());
    auto tokens = list_tokens(device);
    if (!tokens)
        return std::unexpected(tokens.error());
    auto empty = is_access_empty(device);
    if (!empty)
        return std::unexpected(
            OpError{Fault::Device, 0, QString::fromStdString(empty.error().message)});

    KeyInfo info;
    info.serial = *serial;
    info.pinMode = is_hwmaccess_supported(device) ? 0 : 1;
    info.pinPolicyOn = is_pin_policy_enabled(device);
    info.pinSet = !*empty;
    info.tokenCount = static_cast<int>(tokens->size());
    return info;
}
