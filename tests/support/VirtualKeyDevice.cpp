#include "VirtualKeyDevice.h"

#include "KeyStore.h"
#include "VirtualDevice.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

template <typename T> T orThrow(vkey::Result<T> result)
{
    if (!result)
        throw std::runtime_error("virtual key: " + result.error().what);
    if constexpr (!std::is_void_v<T>)
        return std::move(*result);
}

std::string makeTempDir()
{
    const char* base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/vkey-test-XXXXXX";
    if (!::mkdtemp(tmpl.data()))
        throw std::runtime_error("virtual key: cannot create a temporary key directory");
    return tmpl;
}

} // namespace

VirtualKeyDevice::VirtualKeyDevice(const std::string& serial, bool hardwareMode)
    : m_dir(makeTempDir()), m_device(std::make_unique<vkey::VirtualDevice>(m_dir))
{
    addKey(serial, hardwareMode);
}

VirtualKeyDevice::~VirtualKeyDevice()
{
    std::error_code ec;
    fs::remove_all(m_dir, ec);
}

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

template <typename F> void VirtualKeyDevice::editAllKeys(F&& edit)
{
    const vkey::KeyStore& store = m_device->store();
    auto lock = orThrow(store.lock());
    for (const std::string& serial : store.keys()) {
        auto key = orThrow(store.load(serial));
        edit(key);
        orThrow(store.save(key));
    }
}

void VirtualKeyDevice::setTouchNever(int timeoutMs)
{
    editAllKeys([&](vkey::KeyState& key) { key.touch = {vkey::TouchMode::Never, 0, timeoutMs}; });
}

void VirtualKeyDevice::setTouchAuto(int delayMs)
{
    editAllKeys([&](vkey::KeyState& key) {
        key.touch.mode = vkey::TouchMode::Auto;
        key.touch.delayMs = delayMs;
    });
}

vkey::KeyState VirtualKeyDevice::pluggedKey() const
{
    const vkey::KeyStore& store = m_device->store();
    auto lock = orThrow(store.lock());
    auto plugged = store.plugged();
    if (plugged.size() != 1)
        throw std::runtime_error("virtual key: needs exactly one plugged key, found " +
                                 std::to_string(plugged.size()));
    return orThrow(store.load(plugged.front()));
}

static OtpTokenRecord recordOf(const vkey::Token& t, uint32_t slot)
{
    OtpTokenRecord r{};
    r.slot = slot;
    r.type = t.type;
    r.hash = t.hash;
    r.digits = t.digits;
    r.interval = t.interval;
    std::memcpy(r.serial, t.serial.data(), std::min<std::size_t>(t.serial.size(), 63));
    std::memcpy(r.seed, t.seed.data(), std::min<std::size_t>(t.seed.size(), 64));
    r.seedLength = static_cast<uint32_t>(t.seed.size());
    return r;
}

std::vector<OtpTokenRecord> VirtualKeyDevice::storedTokens() const
{
    std::vector<OtpTokenRecord> out;
    for (const vkey::Token& t : pluggedKey().tokens)
        out.push_back(recordOf(t, VN_SLOT_ALL));
    return out;
}

std::optional<std::string> VirtualKeyDevice::accessCode() const
{
    return pluggedKey().accessCode;
}

bool VirtualKeyDevice::enterFlag() const
{
    return pluggedKey().enter;
}

uint64_t VirtualKeyDevice::hotpCounter(const std::string& tokenSerial) const
{
    for (const vkey::Token& t : pluggedKey().tokens)
        if (t.serial == tokenSerial)
            return t.counter;
    throw std::runtime_error("virtual key: no token " + tokenSerial);
}

uint32_t VirtualKeyDevice::ListDevice(uint32_t* reserved, uint32_t flags)
{
    return m_device->listDevice(reserved, flags);
}

uint32_t VirtualKeyDevice::GetDeviceInfo(DeviceInfoRecord* info)
{
    return m_device->getDeviceInfo(info);
}

uint32_t VirtualKeyDevice::OtpList(uint32_t slot, OtpTokenRecord* records)
{
    return m_device->otpList(slot, records);
}

uint32_t VirtualKeyDevice::OtpPersonalize(OtpTokenRecord record, const char* access,
                                          uint32_t accessLen, uint8_t flag)
{
    return m_device->otpPersonalize(record, access, accessLen, flag);
}

uint32_t VirtualKeyDevice::OtpCalculate(OtpTokenRecord record, const char* challenge,
                                        uint32_t challengeLen, char* otp, uint32_t* reserved,
                                        const char* access, uint32_t accessLen)
{
    return m_device->otpCalculate(record, challenge, challengeLen, otp, reserved, access,
                                  accessLen);
}

uint32_t VirtualKeyDevice::OtpDelete(OtpTokenRecord record, const char* access, uint32_t accessLen)
{
    return m_device->otpDelete(record, access, accessLen);
}

uint32_t VirtualKeyDevice::OtpReset()
{
    return m_device->otpReset();
}

uint32_t VirtualKeyDevice::OtpSetValueWithEnter(uint8_t enter)
{
    return m_device->otpSetValueWithEnter(enter);
}

uint32_t VirtualKeyDevice::OtpHasAccess(uint32_t slot, uint8_t* hasAccess)
{
    return m_device->otpHasAccess(slot, hasAccess);
}

uint32_t VirtualKeyDevice::OtpSetAccess(uint32_t slot, const char* code, uint32_t codeLen)
{
    return m_device->otpSetAccess(slot, code, codeLen);
}

uint32_t VirtualKeyDevice::OtpChangeAccess(uint32_t slot, const char* oldCode, uint32_t oldLen,
                                           const char* newCode, uint32_t newLen)
{
    return m_device->otpChangeAccess(slot, oldCode, oldLen, newCode, newLen);
}
