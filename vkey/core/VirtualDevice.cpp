#include "VirtualDevice.h"

#include "Otp.h"
#include "Touch.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace vkey {

namespace {

// A text given as pointer and length; a null pointer is only fine with 0.
bool validText(const char* text, uint32_t len)
{
    return text != nullptr || len == 0;
}

std::string_view textOf(const char* text, uint32_t len)
{
    return text ? std::string_view(text, len) : std::string_view();
}

// While a code is set on a key with the function, the access text must match
// it byte for byte; otherwise the key ignores the access text.
bool accessAccepted(const KeyState& key, const char* access, uint32_t len)
{
    return !key.hardwareAccess || !key.accessCode || *key.accessCode == textOf(access, len);
}

bool validAccessCode(const char* code, uint32_t len)
{
    return code != nullptr && len > 0 && len <= kMaxAccessCodeLength;
}

// The serial field up to its NUL; empty when the field has no NUL at all.
std::optional<std::string> serialOf(const OtpTokenRecord& record)
{
    std::size_t len = strnlen(record.serial, VN_SERIAL_FIELD_SIZE);
    if (len == VN_SERIAL_FIELD_SIZE)
        return std::nullopt;
    return std::string(record.serial, len);
}

OtpTokenRecord toRecord(const Token& token, uint32_t slot, bool withSeed)
{
    OtpTokenRecord r{};
    r.slot = slot;
    r.type = token.type;
    r.hash = token.hash;
    r.digits = token.digits;
    r.interval = token.interval;
    std::memcpy(r.serial, token.serial.data(),
                std::min(token.serial.size(), std::size_t{VN_SERIAL_FIELD_SIZE - 1}));
    if (withSeed) {
        std::memcpy(r.seed, token.seed.data(),
                    std::min(token.seed.size(), std::size_t{VN_SEED_FIELD_SIZE}));
        r.seedLength = static_cast<uint32_t>(token.seed.size());
    }
    return r;
}

std::optional<Token> fromRecord(const OtpTokenRecord& r)
{
    auto serial = serialOf(r);
    if (!serial || r.seedLength > VN_SEED_FIELD_SIZE)
        return std::nullopt;
    Token t;
    t.type = r.type;
    t.hash = r.hash;
    t.digits = r.digits;
    t.interval = r.interval;
    t.serial = *serial;
    t.seed.assign(r.seed, r.seed + r.seedLength);
    return t;
}

std::vector<Token>::iterator findToken(KeyState& key, const std::string& serial)
{
    return std::ranges::find(key.tokens, serial, &Token::serial);
}

// Calls into the core must never throw through the C interface.
template <typename F> uint32_t guarded(F&& f)
{
    try {
        return f();
    } catch (...) {
        return VN_ERR_STORAGE;
    }
}

} // namespace

uint32_t VirtualDevice::update(const Operation& op)
{
    auto lock = m_store.lock();
    if (!lock)
        return lock.error().status;
    auto plugged = m_store.plugged();
    if (plugged.empty())
        return VN_ERR_NO_DEVICE;
    if (plugged.size() > 1)
        return VN_ERR_MULTIPLE_DEVICES;
    auto key = m_store.load(plugged.front());
    if (!key)
        return key.error().status;
    KeyState before = *key;
    if (uint32_t status = op(*key); status != VN_OK)
        return status;
    if (*key == before)
        return VN_OK;
    auto saved = m_store.save(*key);
    return saved ? VN_OK : saved.error().status;
}

uint32_t VirtualDevice::updateAfterTouch(const Operation& op)
{
    std::string serial;
    TouchSetting touch;
    uint32_t status = update([&](KeyState& key) {
        KeyState trial = key;
        serial = key.serial;
        touch = key.touch;
        return op(trial);
    });
    if (status != VN_OK)
        return status;
    // The lock is not held while waiting: vnkey and other programs go on
    // working with the keys, and `vnkey touch` must get through.
    if (!waitForTouch(m_store, serial, touch))
        return VN_ERR_TOUCH_TIMEOUT;
    return update([&](KeyState& key) {
        // Unplugged and replaced by another key while waiting for the touch.
        if (key.serial != serial)
            return VN_ERR_NO_DEVICE;
        return op(key);
    });
}

uint32_t VirtualDevice::listDevice(uint32_t*, uint32_t)
{
    return guarded([&]() -> uint32_t {
        // Counting markers needs no lock: each one appears and goes in one step.
        std::size_t n = m_store.plugged().size();
        return n == 0 ? VN_ERR_NO_DEVICE : n == 1 ? VN_OK : VN_ERR_MULTIPLE_DEVICES;
    });
}

uint32_t VirtualDevice::getDeviceInfo(DeviceInfoRecord* info)
{
    return guarded([&] {
        return update([&](KeyState& key) -> uint32_t {
            if (!info)
                return VN_ERR_INVALID_ARGUMENT;
            std::memset(info->serialNumber, 0, sizeof info->serialNumber);
            std::memcpy(info->serialNumber, key.serial.data(), key.serial.size());
            return VN_OK;
        });
    });
}

uint32_t VirtualDevice::otpList(uint32_t slot, OtpTokenRecord* records)
{
    return guarded([&] {
        return update([&](KeyState& key) -> uint32_t {
            if (!records)
                return VN_ERR_INVALID_ARGUMENT;
            if (slot == VN_SLOT_PIN_RECORD) {
                records[0] = key.pinRecord ? toRecord(*key.pinRecord, VN_SLOT_PIN_RECORD, true)
                                           : OtpTokenRecord{};
                return VN_OK;
            }
            if (slot != VN_SLOT_ALL)
                return VN_ERR_INVALID_ARGUMENT;
            // Like a secure element, the key never hands out a seed.
            for (std::size_t i = 0; i < VN_MAX_TOKENS; ++i)
                records[i] = i < key.tokens.size() ? toRecord(key.tokens[i], VN_SLOT_ALL, false)
                                                   : OtpTokenRecord{};
            return VN_OK;
        });
    });
}

uint32_t VirtualDevice::otpPersonalize(const OtpTokenRecord& record, const char* access,
                                       uint32_t accessLen, uint8_t)
{
    return guarded([&] {
        if (!validText(access, accessLen))
            return VN_ERR_INVALID_ARGUMENT;
        if (record.slot != VN_SLOT_PIN_RECORD && record.slot != VN_SLOT_ALL)
            return VN_ERR_INVALID_ARGUMENT;
        auto token = fromRecord(record);
        return updateAfterTouch([&](KeyState& key) -> uint32_t {
            if (record.slot == VN_SLOT_PIN_RECORD) {
                // The PIN record is written without access code, in any mode.
                if (!token)
                    return VN_ERR_INVALID_TOKEN;
                key.pinRecord = *token;
                return VN_OK;
            }
            if (!accessAccepted(key, access, accessLen))
                return VN_ERR_WRONG_ACCESS;
            if (!token || !isValidOtpToken(*token))
                return VN_ERR_INVALID_TOKEN;
            if (findToken(key, token->serial) != key.tokens.end())
                return VN_ERR_DUPLICATE_SERIAL;
            if (key.tokens.size() >= VN_MAX_TOKENS)
                return VN_ERR_KEY_FULL;
            key.tokens.push_back(*token);
            return VN_OK;
        });
    });
}

uint32_t VirtualDevice::otpCalculate(const OtpTokenRecord& record, const char* challenge,
                                     uint32_t challengeLen, char* otp, uint32_t*,
                                     const char* access, uint32_t accessLen)
{
    return guarded([&] {
        auto serial = serialOf(record);
        if (!otp || !serial || !validText(challenge, challengeLen) || !validText(access, accessLen))
            return VN_ERR_INVALID_ARGUMENT;
        std::string value;
        uint32_t status = updateAfterTouch([&](KeyState& key) -> uint32_t {
            if (!accessAccepted(key, access, accessLen))
                return VN_ERR_WRONG_ACCESS;
            auto token = findToken(key, *serial);
            if (token == key.tokens.end())
                return VN_ERR_TOKEN_NOT_FOUND;
            uint64_t counter = token->counter;
            if (token->type == VN_TYPE_TOTP) {
                auto time = parseLocalTime(textOf(challenge, challengeLen));
                if (!time)
                    return VN_ERR_INVALID_ARGUMENT;
                counter = totpStep(*time, token->interval);
            } else {
                ++token->counter; // the moving factor moves with every value handed out
            }
            value = hotp(token->seed, counter, token->hash, token->digits);
            return value.empty() ? VN_ERR_STORAGE : VN_OK;
        });
        if (status == VN_OK) {
            std::memset(otp, 0, VN_OTP_BUFFER_SIZE);
            std::memcpy(otp, value.data(), value.size());
        }
        return status;
    });
}

uint32_t VirtualDevice::otpDelete(const OtpTokenRecord& record, const char* access,
                                  uint32_t accessLen)
{
    return guarded([&] {
        auto serial = serialOf(record);
        if (!serial || record.slot != VN_SLOT_ALL || !validText(access, accessLen))
            return VN_ERR_INVALID_ARGUMENT;
        return updateAfterTouch([&](KeyState& key) -> uint32_t {
            if (!accessAccepted(key, access, accessLen))
                return VN_ERR_WRONG_ACCESS;
            auto token = findToken(key, *serial);
            if (token == key.tokens.end())
                return VN_ERR_TOKEN_NOT_FOUND;
            key.tokens.erase(token);
            return VN_OK;
        });
    });
}

uint32_t VirtualDevice::otpReset()
{
    return guarded([&] {
        return updateAfterTouch([](KeyState& key) -> uint32_t {
            // The ENTER flag and the touch setting survive: they are the
            // key's configuration, not its secrets.
            key.tokens.clear();
            key.pinRecord.reset();
            key.accessCode.reset();
            return VN_OK;
        });
    });
}

uint32_t VirtualDevice::otpSetValueWithEnter(uint8_t enter)
{
    return guarded([&] {
        return update([&](KeyState& key) -> uint32_t {
            if (enter > 1)
                return VN_ERR_INVALID_ARGUMENT;
            key.enter = enter == 1;
            return VN_OK;
        });
    });
}

uint32_t VirtualDevice::otpHasAccess(uint32_t slot, uint8_t* hasAccess)
{
    return guarded([&] {
        return update([&](KeyState& key) -> uint32_t {
            if (slot != VN_SLOT_ALL || !hasAccess)
                return VN_ERR_INVALID_ARGUMENT;
            *hasAccess = key.hardwareAccess && key.accessCode ? 1 : 0;
            return VN_OK;
        });
    });
}

uint32_t VirtualDevice::otpSetAccess(uint32_t slot, const char* code, uint32_t codeLen)
{
    return guarded([&] {
        return update([&](KeyState& key) -> uint32_t {
            if (slot != VN_SLOT_ALL)
                return VN_ERR_INVALID_ARGUMENT;
            if (!key.hardwareAccess)
                return VN_ERR_NO_HW_ACCESS;
            if (!validAccessCode(code, codeLen))
                return VN_ERR_INVALID_ARGUMENT;
            if (key.accessCode)
                return VN_ERR_ACCESS_ALREADY_SET;
            key.accessCode = std::string(code, codeLen);
            return VN_OK;
        });
    });
}

uint32_t VirtualDevice::otpChangeAccess(uint32_t slot, const char* oldCode, uint32_t oldLen,
                                        const char* newCode, uint32_t newLen)
{
    return guarded([&] {
        return update([&](KeyState& key) -> uint32_t {
            if (slot != VN_SLOT_ALL)
                return VN_ERR_INVALID_ARGUMENT;
            if (!key.hardwareAccess)
                return VN_ERR_NO_HW_ACCESS;
            if (!validText(oldCode, oldLen))
                return VN_ERR_INVALID_ARGUMENT;
            if (!key.accessCode || *key.accessCode != textOf(oldCode, oldLen))
                return VN_ERR_WRONG_ACCESS;
            if (!validAccessCode(newCode, newLen))
                return VN_ERR_INVALID_ARGUMENT;
            key.accessCode = std::string(newCode, newLen);
            return VN_OK;
        });
    });
}

} // namespace vkey
