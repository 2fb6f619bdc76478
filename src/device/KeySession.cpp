#include "device/KeySession.h"

#include <algorithm>
#include <cstring>

namespace {

uint32_t length(std::string_view text)
{
    return static_cast<uint32_t>(text.size());
}

// Never a null pointer, even for an empty text: the key may take null as a
// missing argument rather than as an empty code.
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

constexpr char kProbeCode[] = "qmvr482";

} // namespace

Challenge challenge_for(const OtpTokenRecord& record, std::time_t now)
{
    Challenge challenge;
    if (record.type != VN_TYPE_TOTP)
        return challenge;
    std::tm local{};
    localtime_r(&now, &local);
    challenge.length = static_cast<uint32_t>(
        std::strftime(challenge.text.data(), challenge.text.size(), "%Y-%m-%d %H:%M:%S", &local));
    return challenge;
}

std::string field_text(const char* field, std::size_t size)
{
    return std::string(field, strnlen(field, size));
}

std::string token_serial(const OtpTokenRecord& record)
{
    return field_text(record.serial, sizeof record.serial);
}

OpResult<std::string> KeySession::find_key()
{
    uint32_t reserved = 0;
    const uint32_t listed = m_device.ListDevice(&reserved, 0);
    switch (listed) {
    case VN_OK:
        break;
    case VN_ERR_NO_DEVICE:
        return fail(Fault::NoKey,
                    "No Vornik/Tessel key is plugged in (" + status_hex(listed) + ").", listed);
    case VN_ERR_MULTIPLE_DEVICES:
        return fail(Fault::MultipleKeys,
                    "More than one Vornik/Tessel key is plugged in (" + status_hex(listed) + ").",
                    listed);
    default:
        return std::unexpected(device_fault(listed));
    }
    DeviceInfoRecord info{};
    if (const uint32_t status = m_device.GetDeviceInfo(&info); status != VN_OK)
        return fail(Fault::KeyUnreadable, status_hex(status), status);
    return field_text(info.serialNumber, sizeof info.serialNumber);
}

OpResult<std::vector<OtpTokenRecord>> KeySession::tokens()
{
    std::array<OtpTokenRecord, VN_MAX_TOKENS> listing{};
    if (const uint32_t status = m_device.OtpList(VN_SLOT_ALL, listing.data()); status != VN_OK)
        return std::unexpected(device_fault(status));
    const auto end = std::ranges::find_if(
        listing, [](const OtpTokenRecord& record) { return record.serial[0] == '\0'; });
    return std::vector<OtpTokenRecord>(listing.begin(), end);
}

OpResult<OtpTokenRecord> KeySession::pin_record()
{
    OtpTokenRecord record{};
    if (const uint32_t status = m_device.OtpList(VN_SLOT_PIN_RECORD, &record); status != VN_OK)
        return std::unexpected(device_fault(status));
    return record;
}

OpResult<void> KeySession::personalize(const OtpTokenRecord& record, std::string_view access)
{
    return done(m_device.OtpPersonalize(record, bytes(access), length(access), 1));
}

OpResult<void> KeySession::write_pin_record(const OtpTokenRecord& record)
{
    return done(m_device.OtpPersonalize(record, nullptr, 0, 1));
}

OpResult<std::string> KeySession::calculate(const OtpTokenRecord& record,
                                            const Challenge& challenge, std::string_view access)
{
    std::array<char, VN_OTP_BUFFER_SIZE> otp{};
    uint32_t reserved = 0;
    const uint32_t status =
        m_device.OtpCalculate(record, challenge.text.data(), challenge.length, otp.data(),
                              &reserved, bytes(access), length(access));
    if (status != VN_OK)
        return std::unexpected(device_fault(status));
    return field_text(otp.data(), otp.size());
}

OpResult<void> KeySession::remove(OtpTokenRecord record, std::string_view access)
{
    record.slot = VN_SLOT_ALL;
    return done(m_device.OtpDelete(record, bytes(access), length(access)));
}

OpResult<void> KeySession::reset()
{
    return done(m_device.OtpReset());
}

OpResult<void> KeySession::set_enter(bool appendEnter)
{
    return done(m_device.OtpSetValueWithEnter(appendEnter ? 1 : 0));
}

OpResult<bool> KeySession::has_access()
{
    uint8_t hasAccess = 0;
    if (const uint32_t status = m_device.OtpHasAccess(VN_SLOT_ALL, &hasAccess); status != VN_OK)
        return std::unexpected(device_fault(status));
    return hasAccess != 0;
}

OpResult<void> KeySession::set_access(std::string_view code)
{
    return done(m_device.OtpSetAccess(VN_SLOT_ALL, bytes(code), length(code)));
}

OpResult<void> KeySession::change_access(std::string_view oldCode, std::string_view newCode)
{
    return done(m_device.OtpChangeAccess(VN_SLOT_ALL, bytes(oldCode), length(oldCode),
                                         bytes(newCode), length(newCode)));
}

bool KeySession::is_hwmaccess_supported()
{
    if (!m_hardwareMode) {
        const uint32_t status = m_device.OtpChangeAccess(
            VN_SLOT_ALL, kProbeCode, sizeof kProbeCode - 1, kProbeCode, sizeof kProbeCode - 1);
        m_hardwareMode = status != VN_ERR_NO_HW_ACCESS;
    }
    return *m_hardwareMode;
}
