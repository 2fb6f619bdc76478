// Temporary: every call reports that no key is plugged in, until the virtual
// key core is wired in.
#include <VN_Manager.h>

extern "C" {
uint32_t VN_ListDevice(uint32_t*, uint32_t) { return VN_ERR_NO_DEVICE; }
uint32_t VN_GetDeviceInfo(DeviceInfoRecord*) { return VN_ERR_NO_DEVICE; }
uint32_t VN_OTP_List(uint32_t, OtpTokenRecord*) { return VN_ERR_NO_DEVICE; }
uint32_t VN_OTP_Personalize(OtpTokenRecord, const char*, uint32_t, uint8_t) { return VN_ERR_NO_DEVICE; }
uint32_t VN_OTP_Calculate(OtpTokenRecord, const char*, uint32_t, char*, uint32_t*, const char*, uint32_t) { return VN_ERR_NO_DEVICE; }
uint32_t VN_OTP_Delete(OtpTokenRecord, const char*, uint32_t) { return VN_ERR_NO_DEVICE; }
uint32_t VN_OTP_Reset(void) { return VN_ERR_NO_DEVICE; }
uint32_t VN_OTP_SetValueWithEnter(uint8_t) { return VN_ERR_NO_DEVICE; }
uint32_t VN_OTP_HasAccess(uint32_t, uint8_t*) { return VN_ERR_NO_DEVICE; }
uint32_t VN_OTP_SetAccess(uint32_t, const char*, uint32_t) { return VN_ERR_NO_DEVICE; }
uint32_t VN_OTP_ChangeAccess(uint32_t, const char*, uint32_t, const char*, uint32_t) { return VN_ERR_NO_DEVICE; }
}
