#include "device/KeySession.h"

#include "core/Secret.h"
#include "device/DeviceApi.h"

#include <algorithm>
#include <cstring>

using namespace otp::core;

namespace otp::device {

static_assert(sizeof(OtpTokenRecord) == KeyRecord::kSize);
static_assert(kMaxTokens == VN_MAX_TOKENS);

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

// The one place a status becomes a fault.
OpError key_fault(uint32_t status)
{
    switch (status) {
    case VN_ERR_WRONG_ACCESS:
        return device_fault(status, Fault::Pin);
    case VN_ERR_TOUCH_TIMEOUT:
        return device_fault(status, Fault::TimedOut);
    default:
        return device_fault(status);
    }
}

OpResult<void> done(uint32_t status)
{
    if (status != VN_OK)
        return std::unexpected(key_fault(status));
    return {};
}

constexpr char kProbeCode[] = "qmvr482";
// The PIN pseudo-token never yields an OTP; the key just wants a seed of some sort.
constexpr char kFillerSeed[] = "50827413";

std::string field_text(const char* field, std::size_t size)
{
    return std::string(field, strnlen(field, size));
}

template <class T> Known<T> known(uint32_t value, std::initializer_list<std::pair<uint32_t, T>> map)
{
    for (const auto& [raw, typed] : map)
        if (raw == value)
            return typed;
    return std::nullopt;
}

ListedToken listed(const OtpTokenRecord& record)
{
    ListedToken token;
    token.serial = field_text(record.serial, sizeof record.serial);
    token.type =
        known<TokenType>(record.type, {{VN_TYPE_HOTP, TokenType::Hotp},
                                       {VN_TYPE_TOTP, TokenType::Totp},
                                       {VN_TYPE_STATIC_PASSWORD, TokenType::StaticPassword},
                                       {VN_TYPE_CHALLENGE_RESPONSE, TokenType::ChallengeResponse}});
    token.hash = known<OtpHash>(record.hash,
                                {{VN_HASH_SHA1, OtpHash::Sha1}, {VN_HASH_SHA256, OtpHash::Sha256}});
    token.digits = known<int>(record.digits, {{6, 6}, {8, 8}});
    token.interval = known<int>(record.interval, {{30, 30}, {60, 60}});
    std::memcpy(token.record.bytes.data(), &record, sizeof record);
    return token;
}

// Wiped when it goes: a programmed record holds the seed.
struct RecordBuffer
{
    OtpTokenRecord record{};
    ~RecordBuffer() { wipe(&record, sizeof record); }
};

void describe(OtpTokenRecord& record, const TokenDescription& token)
{
    record.slot = VN_SLOT_ALL;
    record.type = token.algorithm == OtpAlgorithm::Hotp ? VN_TYPE_HOTP : VN_TYPE_TOTP;
    record.hash = token.hash == OtpHash::Sha1 ? VN_HASH_SHA1 : VN_HASH_SHA256;
    record.digits = static_cast<uint32_t>(token.digits);
    // HOTP tokens carry the chosen interval too; the key ignores it for them.
    record.interval = static_cast<uint32_t>(token.interval);
    // The last byte of each field stays zero: the key reads text up to it.
    std::memcpy(record.serial, token.serial.data(),
                std::min(token.serial.size(), sizeof record.serial - 1));
    std::memcpy(record.seed, token.seed.data(), std::min(token.seed.size(), sizeof record.seed));
    record.seedLength = static_cast<uint32_t>(std::min(token.seed.size(), sizeof record.seed));
}

struct Challenge
{
    std::array<char, VN_CHALLENGE_BUFFER_SIZE> text{};
    uint32_t length = 0;
};

// The key derives the time step of a TOTP token from the local time we send
// ("%Y-%m-%d %H:%M:%S"); every other token gets nothing.
Challenge challenge_for(uint32_t type, std::time_t at)
{
    Challenge challenge;
    if (type != VN_TYPE_TOTP)
        return challenge;
    std::tm local{};
    localtime_r(&at, &local);
    challenge.length = static_cast<uint32_t>(
        std::strftime(challenge.text.data(), challenge.text.size(), "%Y-%m-%d %H:%M:%S", &local));
    return challenge;
}

} // namespace

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
        return std::unexpected(key_fault(listed));
    }
    DeviceInfoRecord info{};
    if (const uint32_t status = m_device.GetDeviceInfo(&info); status != VN_OK)
        return fail(Fault::KeyUnreadable, status_hex(status), status);
    return field_text(info.serialNumber, sizeof info.serialNumber);
}

OpResult<std::vector<ListedToken>> KeySession::tokens()
{
    std::array<OtpTokenRecord, VN_MAX_TOKENS> listing{};
    if (const uint32_t status = m_device.OtpList(VN_SLOT_ALL, listing.data()); status != VN_OK)
        return std::unexpected(key_fault(status));
    std::vector<ListedToken> tokens;
    for (const OtpTokenRecord& record : listing) {
        if (record.serial[0] == '\0')
            break;
        tokens.push_back(listed(record));
    }
    return tokens;
}

OpResult<std::string> KeySession::pin_record_text()
{
    OtpTokenRecord record{};
    if (const uint32_t status = m_device.OtpList(VN_SLOT_PIN_RECORD, &record); status != VN_OK)
        return std::unexpected(key_fault(status));
    return field_text(record.serial, sizeof record.serial);
}

OpResult<void> KeySession::write_pin_record(std::string_view text)
{
    OtpTokenRecord token{};
    token.slot = VN_SLOT_PIN_RECORD;
    token.type = VN_TYPE_TOTP;
    token.hash = VN_HASH_SHA1;
    token.digits = 6;
    token.interval = 30;
    std::memcpy(token.serial, text.data(), std::min(text.size(), sizeof token.serial - 1));
    std::memcpy(token.seed, kFillerSeed, sizeof kFillerSeed - 1);
    token.seedLength = sizeof kFillerSeed - 1;
    return done(m_device.OtpPersonalize(token, nullptr, 0, 1));
}

OpResult<void> KeySession::personalize(const TokenDescription& token, std::string_view access)
{
    RecordBuffer buffer;
    describe(buffer.record, token);
    return done(m_device.OtpPersonalize(buffer.record, bytes(access), length(access), 1));
}

namespace {

OpResult<std::string> calculateRecord(DeviceApi& device, const OtpTokenRecord& record,
                                      std::time_t at, std::string_view access)
{
    const Challenge challenge = challenge_for(record.type, at);
    std::array<char, VN_OTP_BUFFER_SIZE> otp{};
    uint32_t reserved = 0;
    const uint32_t status =
        device.OtpCalculate(record, challenge.text.data(), challenge.length, otp.data(), &reserved,
                            bytes(access), length(access));
    if (status != VN_OK)
        return std::unexpected(key_fault(status));
    return field_text(otp.data(), otp.size());
}

OtpTokenRecord as_record(const KeyRecord& stored)
{
    OtpTokenRecord record{};
    std::memcpy(&record, stored.bytes.data(), sizeof record);
    return record;
}

} // namespace

OpResult<std::string> KeySession::calculate(const ListedToken& token, std::time_t at,
                                            std::string_view access)
{
    RecordBuffer buffer;
    buffer.record = as_record(token.record);
    return calculateRecord(m_device, buffer.record, at, access);
}

OpResult<std::string> KeySession::calculate(const TokenDescription& token, std::time_t at,
                                            std::string_view access)
{
    RecordBuffer buffer;
    describe(buffer.record, token);
    return calculateRecord(m_device, buffer.record, at, access);
}

OpResult<void> KeySession::remove(const ListedToken& token, std::string_view access)
{
    RecordBuffer buffer;
    buffer.record = as_record(token.record);
    buffer.record.slot = VN_SLOT_ALL;
    return done(m_device.OtpDelete(buffer.record, bytes(access), length(access)));
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
        return std::unexpected(key_fault(status));
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

} // namespace otp::device
