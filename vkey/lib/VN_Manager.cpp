// The C interface of the device library over the virtual key. The key
// directory is looked up in the environment at every call, so a process can
// point the library at other keys (tests do) without reloading it.

#include "KeyStore.h"
#include "VirtualDevice.h"

#include <VN_Manager.h>

namespace {

template <typename F> uint32_t onKeys(F&& call)
{
    try {
        auto dir = vkey::keyDirFromEnvironment();
        if (!dir)
            return dir.error().status;
        // The first call on a machine without keys brings one plugged-in key.
        if (auto ready = vkey::ensureKeyDir(*dir); !ready)
            return ready.error().status;
        vkey::VirtualDevice device(*dir);
        return call(device);
    } catch (...) {
        return VN_ERR_STORAGE;
    }
}

} // namespace

extern "C" {

uint32_t VN_ListDevice(uint32_t* reserved, uint32_t flags)
{
    return onKeys([&](vkey::VirtualDevice& d) { return d.listDevice(reserved, flags); });
}

uint32_t VN_GetDeviceInfo(DeviceInfoRecord* info)
{
    return onKeys([&](vkey::VirtualDevice& d) { return d.getDeviceInfo(info); });
}

uint32_t VN_OTP_List(uint32_t slot, OtpTokenRecord* records)
{
    return onKeys([&](vkey::VirtualDevice& d) { return d.otpList(slot, records); });
}

uint32_t VN_OTP_Personalize(OtpTokenRecord record, const char* access, uint32_t accessLen,
                            uint8_t flag)
{
    return onKeys(
        [&](vkey::VirtualDevice& d) { return d.otpPersonalize(record, access, accessLen, flag); });
}

uint32_t VN_OTP_Calculate(OtpTokenRecord record, const char* challenge, uint32_t challengeLen,
                          char* otp, uint32_t* reserved, const char* access, uint32_t accessLen)
{
    return onKeys([&](vkey::VirtualDevice& d) {
        return d.otpCalculate(record, challenge, challengeLen, otp, reserved, access, accessLen);
    });
}

uint32_t VN_OTP_Delete(OtpTokenRecord record, const char* access, uint32_t accessLen)
{
    return onKeys([&](vkey::VirtualDevice& d) { return d.otpDelete(record, access, accessLen); });
}

uint32_t VN_OTP_Reset(void)
{
    return onKeys([](vkey::VirtualDevice& d) { return d.otpReset(); });
}

uint32_t VN_OTP_SetValueWithEnter(uint8_t enter)
{
    return onKeys([&](vkey::VirtualDevice& d) { return d.otpSetValueWithEnter(enter); });
}

uint32_t VN_OTP_HasAccess(uint32_t slot, uint8_t* hasAccess)
{
    return onKeys([&](vkey::VirtualDevice& d) { return d.otpHasAccess(slot, hasAccess); });
}

uint32_t VN_OTP_SetAccess(uint32_t slot, const char* code, uint32_t codeLen)
{
    return onKeys([&](vkey::VirtualDevice& d) { return d.otpSetAccess(slot, code, codeLen); });
}

uint32_t VN_OTP_ChangeAccess(uint32_t slot, const char* oldCode, uint32_t oldLen,
                             const char* newCode, uint32_t newLen)
{
    return onKeys([&](vkey::VirtualDevice& d) {
        return d.otpChangeAccess(slot, oldCode, oldLen, newCode, newLen);
    });
}

} // extern "C"
