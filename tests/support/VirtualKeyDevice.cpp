#include "VirtualKeyDevice.h"

#include "KeyStore.h"
#include "VirtualDevice.h"

#include <QDir>

#include <algorithm>
#include <stdexcept>

namespace {

template <typename T> T orThrow(vkey::Result<T> result)
{
    if (!result)
        throw std::runtime_error("virtual key: " + result.error().what);
    if constexpr (!std::is_void_v<T>)
        return std::move(*result);
}

std::string text(const char* p, uint32_t n)
{
    return p ? std::string(p, n) : std::string();
}

} // namespace

VirtualKeyDevice::VirtualKeyDevice(const std::string& serial, bool hardwareMode)
    : m_tempDir(QDir::tempPath() + "/vkey-test-XXXXXX"), m_dir(m_tempDir.path().toStdString()),
      m_device(std::make_unique<vkey::VirtualDevice>(m_dir))
{
    if (!m_tempDir.isValid())
        throw std::runtime_error("virtual key: cannot create a temporary key directory");
    addKey(serial, hardwareMode);
}

VirtualKeyDevice::~VirtualKeyDevice() = default;

void VirtualKeyDevice::addKey(const std::string& serial, bool hardwareMode)
{
    const vkey::KeyStore& store = m_device->store();
    auto lock = orThrow(store.lock());
    vkey::KeyState key;
    key.serial = serial;
    key.hardwareAccess = hardwareMode;
    key.touch = {vkey::TouchMode::Auto, 0, 1000};
    orThrow(store.create(key));
    orThrow(store.plug(serial));
}

void VirtualKeyDevice::plug(const std::string& serial)
{
    auto lock = orThrow(m_device->store().lock());
    orThrow(m_device->store().plug(serial));
}

void VirtualKeyDevice::unplug(const std::string& serial)
{
    auto lock = orThrow(m_device->store().lock());
    orThrow(m_device->store().unplug(serial));
}

void VirtualKeyDevice::setTouchNever(int timeoutMs)
{
    const vkey::KeyStore& store = m_device->store();
    auto lock = orThrow(store.lock());
    for (const std::string& serial : store.keys()) {
        auto key = orThrow(store.load(serial));
        key.touch = {vkey::TouchMode::Never, 0, timeoutMs};
        orThrow(store.save(key));
    }
}

vkey::KeyState VirtualKeyDevice::keyState() const
{
    const vkey::KeyStore& store = m_device->store();
    auto lock = orThrow(store.lock());
    auto plugged = store.plugged();
    if (plugged.size() != 1)
        throw std::runtime_error("virtual key: needs exactly one plugged key, found " +
                                 std::to_string(plugged.size()));
    return orThrow(store.load(plugged.front()));
}

std::vector<std::string> VirtualKeyDevice::storedSerials() const
{
    std::vector<std::string> out;
    for (const vkey::Token& t : keyState().tokens)
        out.push_back(t.serial);
    return out;
}

std::vector<RecordedCall> VirtualKeyDevice::callsOf(DeviceCall call) const
{
    std::vector<RecordedCall> out;
    std::ranges::copy_if(m_calls, std::back_inserter(out),
                         [call](const RecordedCall& c) { return c.call == call; });
    return out;
}

uint32_t VirtualKeyDevice::run(RecordedCall entry,
                               const std::function<uint32_t(vkey::VirtualDevice&)>& onKey)
{
    if (beforeCall)
        beforeCall(entry.call);
    if (auto once = m_once.find(entry.call); once != m_once.end() && !once->second.empty()) {
        entry.status = once->second.front();
        once->second.pop_front();
    } else {
        entry.status = onKey(*m_device);
    }
    m_calls.push_back(entry);
    return entry.status;
}

uint32_t VirtualKeyDevice::ListDevice(uint32_t* reserved, uint32_t flags)
{
    return run({DeviceCall::ListDevice},
               [&](auto& key) { return key.listDevice(reserved, flags); });
}

uint32_t VirtualKeyDevice::GetDeviceInfo(DeviceInfoRecord* info)
{
    return run({DeviceCall::GetDeviceInfo}, [&](auto& key) { return key.getDeviceInfo(info); });
}

uint32_t VirtualKeyDevice::OtpList(uint32_t slot, OtpTokenRecord* records)
{
    return run({DeviceCall::OtpList}, [&](auto& key) {
        if (cannedListing.empty() || slot != VN_SLOT_ALL)
            return key.otpList(slot, records);
        std::ranges::copy(cannedListing, records);
        return uint32_t{VN_OK};
    });
}

uint32_t VirtualKeyDevice::OtpPersonalize(OtpTokenRecord record, const char* access,
                                          uint32_t accessLen, uint8_t flag)
{
    return run({DeviceCall::OtpPersonalize, 0, record, text(access, accessLen)},
               [&](auto& key) { return key.otpPersonalize(record, access, accessLen, flag); });
}

uint32_t VirtualKeyDevice::OtpCalculate(OtpTokenRecord record, const char* challenge,
                                        uint32_t challengeLen, char* otp, uint32_t* reserved,
                                        const char* access, uint32_t accessLen)
{
    return run({DeviceCall::OtpCalculate, 0, record, text(access, accessLen),
                text(challenge, challengeLen)},
               [&](auto& key) {
                   return key.otpCalculate(record, challenge, challengeLen, otp, reserved, access,
                                           accessLen);
               });
}

uint32_t VirtualKeyDevice::OtpDelete(OtpTokenRecord record, const char* access, uint32_t accessLen)
{
    return run({DeviceCall::OtpDelete, 0, record, text(access, accessLen)},
               [&](auto& key) { return key.otpDelete(record, access, accessLen); });
}

uint32_t VirtualKeyDevice::OtpReset()
{
    return run({DeviceCall::OtpReset}, [](auto& key) { return key.otpReset(); });
}

uint32_t VirtualKeyDevice::OtpSetValueWithEnter(uint8_t enter)
{
    return run({.call = DeviceCall::OtpSetValueWithEnter, .flag = enter},
               [&](auto& key) { return key.otpSetValueWithEnter(enter); });
}

uint32_t VirtualKeyDevice::OtpHasAccess(uint32_t slot, uint8_t* hasAccess)
{
    return run({DeviceCall::OtpHasAccess},
               [&](auto& key) { return key.otpHasAccess(slot, hasAccess); });
}

uint32_t VirtualKeyDevice::OtpSetAccess(uint32_t slot, const char* code, uint32_t codeLen)
{
    return run({.call = DeviceCall::OtpSetAccess, .access = text(code, codeLen)},
               [&](auto& key) { return key.otpSetAccess(slot, code, codeLen); });
}

uint32_t VirtualKeyDevice::OtpChangeAccess(uint32_t slot, const char* oldCode, uint32_t oldLen,
                                           const char* newCode, uint32_t newLen)
{
    return run(
        {.call = DeviceCall::OtpChangeAccess, .access = text(newCode, newLen)},
        [&](auto& key) { return key.otpChangeAccess(slot, oldCode, oldLen, newCode, newLen); });
}
