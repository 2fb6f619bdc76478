#include "device/DeviceApi.h"
#include "device/LinkedDevice.h"

namespace otp::device {

uint32_t LinkedDeviceApi::ListDevice(uint32_t* reserved, uint32_t flags)
{
    return VN_ListDevice(reserved, flags);
}

uint32_t LinkedDeviceApi::GetDeviceInfo(DeviceInfoRecord* info)
{
    return VN_GetDeviceInfo(info);
}

uint32_t LinkedDeviceApi::OtpList(uint32_t slot, OtpTokenRecord* records)
{
    return VN_OTP_List(slot, records);
}

uint32_t LinkedDeviceApi::OtpPersonalize(OtpTokenRecord record, const char* access,
                                         uint32_t accessLen, uint8_t flag)
{
    return VN_OTP_Personalize(record, access, accessLen, flag);
}

uint32_t LinkedDeviceApi::OtpCalculate(OtpTokenRecord record, const char* challenge,
                                       uint32_t challengeLen, char* otp, uint32_t* reserved,
                                       const char* access, uint32_t accessLen)
{
    return VN_OTP_Calculate(record, challenge, challengeLen, otp, reserved, access, accessLen);
}

uint32_t LinkedDeviceApi::OtpDelete(OtpTokenRecord record, const char* access, uint32_t accessLen)
{
    return VN_OTP_Delete(record, access, accessLen);
}

uint32_t LinkedDeviceApi::OtpReset()
{
    return VN_OTP_Reset();
}

uint32_t LinkedDeviceApi::OtpSetValueWithEnter(uint8_t enter)
{
    return VN_OTP_SetValueWithEnter(enter);
}

uint32_t LinkedDeviceApi::OtpHasAccess(uint32_t slot, uint8_t* hasAccess)
{
    return VN_OTP_HasAccess(slot, hasAccess);
}

uint32_t LinkedDeviceApi::OtpSetAccess(uint32_t slot, const char* code, uint32_t codeLen)
{
    return VN_OTP_SetAccess(slot, code, codeLen);
}

uint32_t LinkedDeviceApi::OtpChangeAccess(uint32_t slot, const char* oldCode, uint32_t oldLen,
                                          const char* newCode, uint32_t newLen)
{
    return VN_OTP_ChangeAccess(slot, oldCode, oldLen, newCode, newLen);
}

LinkedDevice::LinkedDevice() : m_api(std::make_unique<LinkedDeviceApi>()) {}

LinkedDevice::~LinkedDevice() = default;

} // namespace otp::device
