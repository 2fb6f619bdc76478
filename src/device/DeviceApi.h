#pragma once

// The one seam between the program and the key's device library. Production
// code talks to the linked libVN_Manager through LinkedDeviceApi; tests put an
// in-process virtual key (with scripted statuses) behind the same interface.

#include <VN_Manager.h>

#include <cstdint>

namespace otp::device {

class DeviceApi
{
public:
    virtual ~DeviceApi() = default;

    virtual uint32_t ListDevice(uint32_t* reserved, uint32_t flags) = 0;
    virtual uint32_t GetDeviceInfo(DeviceInfoRecord* info) = 0;
    virtual uint32_t OtpList(uint32_t slot, OtpTokenRecord* records) = 0;
    virtual uint32_t OtpPersonalize(OtpTokenRecord record, const char* access, uint32_t accessLen,
                                    uint8_t flag) = 0;
    virtual uint32_t OtpCalculate(OtpTokenRecord record, const char* challenge,
                                  uint32_t challengeLen, char* otp, uint32_t* reserved,
                                  const char* access, uint32_t accessLen) = 0;
    virtual uint32_t OtpDelete(OtpTokenRecord record, const char* access, uint32_t accessLen) = 0;
    virtual uint32_t OtpReset() = 0;
    virtual uint32_t OtpSetValueWithEnter(uint8_t enter) = 0;
    virtual uint32_t OtpHasAccess(uint32_t slot, uint8_t* hasAccess) = 0;
    virtual uint32_t OtpSetAccess(uint32_t slot, const char* code, uint32_t codeLen) = 0;
    virtual uint32_t OtpChangeAccess(uint32_t slot, const char* oldCode, uint32_t oldLen,
                                     const char* newCode, uint32_t newLen) = 0;
};

// Forwards every call to the C functions of the linked device library.
class LinkedDeviceApi final : public DeviceApi
{
public:
    uint32_t ListDevice(uint32_t* reserved, uint32_t flags) override;
    uint32_t GetDeviceInfo(DeviceInfoRecord* info) override;
    uint32_t OtpList(uint32_t slot, OtpTokenRecord* records) override;
    uint32_t OtpPersonalize(OtpTokenRecord record, const char* access, uint32_t accessLen,
                            uint8_t flag) override;
    uint32_t OtpCalculate(OtpTokenRecord record, const char* challenge, uint32_t challengeLen,
                          char* otp, uint32_t* reserved, const char* access,
                          uint32_t accessLen) override;
    uint32_t OtpDelete(OtpTokenRecord record, const char* access, uint32_t accessLen) override;
    uint32_t OtpReset() override;
    uint32_t OtpSetValueWithEnter(uint8_t enter) override;
    uint32_t OtpHasAccess(uint32_t slot, uint8_t* hasAccess) override;
    uint32_t OtpSetAccess(uint32_t slot, const char* code, uint32_t codeLen) override;
    uint32_t OtpChangeAccess(uint32_t slot, const char* oldCode, uint32_t oldLen,
                             const char* newCode, uint32_t newLen) override;
};

} // namespace otp::device
