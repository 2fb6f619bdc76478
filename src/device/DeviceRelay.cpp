#include "device/DeviceRelay.h"

#include "device/DeviceApi.h"

namespace otp::device {

namespace {

class RelayedDevice final : public DeviceApi
{
public:
    RelayedDevice(DeviceApi& device, DeviceRelay::Run run) : m_device(device), m_run(std::move(run))
    {
    }

    uint32_t ListDevice(uint32_t* reserved, uint32_t flags) override
    {
        return relay([&] { return m_device.ListDevice(reserved, flags); });
    }
    uint32_t GetDeviceInfo(DeviceInfoRecord* info) override
    {
        return relay([&] { return m_device.GetDeviceInfo(info); });
    }
    uint32_t OtpList(uint32_t slot, OtpTokenRecord* records) override
    {
        return relay([&] { return m_device.OtpList(slot, records); });
    }
    uint32_t OtpPersonalize(OtpTokenRecord record, const char* access, uint32_t accessLen,
                            uint8_t flag) override
    {
        return relay([&] { return m_device.OtpPersonalize(record, access, accessLen, flag); });
    }
    uint32_t OtpCalculate(OtpTokenRecord record, const char* challenge, uint32_t challengeLen,
                          char* otp, uint32_t* reserved, const char* access,
                          uint32_t accessLen) override
    {
        return relay([&] {
            return m_device.OtpCalculate(record, challenge, challengeLen, otp, reserved, access,
                                         accessLen);
        });
    }
    uint32_t OtpDelete(OtpTokenRecord record, const char* access, uint32_t accessLen) override
    {
        return relay([&] { return m_device.OtpDelete(record, access, accessLen); });
    }
    uint32_t OtpReset() override
    {
        return relay([&] { return m_device.OtpReset(); });
    }
    uint32_t OtpSetValueWithEnter(uint8_t enter) override
    {
        return relay([&] { return m_device.OtpSetValueWithEnter(enter); });
    }
    uint32_t OtpHasAccess(uint32_t slot, uint8_t* hasAccess) override
    {
        return relay([&] { return m_device.OtpHasAccess(slot, hasAccess); });
    }
    uint32_t OtpSetAccess(uint32_t slot, const char* code, uint32_t codeLen) override
    {
        return relay([&] { return m_device.OtpSetAccess(slot, code, codeLen); });
    }
    uint32_t OtpChangeAccess(uint32_t slot, const char* oldCode, uint32_t oldLen,
                             const char* newCode, uint32_t newLen) override
    {
        return relay(
            [&] { return m_device.OtpChangeAccess(slot, oldCode, oldLen, newCode, newLen); });
    }

private:
    template <class Call> uint32_t relay(const Call& call)
    {
        uint32_t status = 0;
        m_run([&] { status = call(); });
        return status;
    }

    DeviceApi& m_device;
    DeviceRelay::Run m_run;
};

} // namespace

DeviceRelay::DeviceRelay(DeviceApi& device, Run run)
    : m_api(std::make_unique<RelayedDevice>(device, std::move(run)))
{
}

DeviceRelay::~DeviceRelay() = default;

} // namespace otp::device
