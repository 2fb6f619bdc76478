#pragma once

// A DeviceApi over the virtual-key core in a private temporary directory.

#include "device/DeviceApi.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vkey {
class VirtualDevice;
struct KeyState;
} // namespace vkey

class VirtualKeyDevice final : public DeviceApi
{
public:
    // One plugged key, touched at once; hardwareMode false: no access code.
    explicit VirtualKeyDevice(const std::string& serial = "VK1000001", bool hardwareMode = true);
    ~VirtualKeyDevice() override;
    VirtualKeyDevice(const VirtualKeyDevice&) = delete;
    VirtualKeyDevice& operator=(const VirtualKeyDevice&) = delete;

    const std::string& keyDir() const { return m_dir; }
    void addKey(const std::string& serial, bool hardwareMode = true); // plugged in
    void plug(const std::string& serial);
    void unplug(const std::string& serial);
    void setTouchNever(int timeoutMs); // on every key: never touched, times out
    void setTouchAuto(int delayMs = 0);

    // The single plugged key (throws unless exactly one):
    std::vector<OtpTokenRecord> storedTokens() const; // with seeds
    std::optional<std::string> accessCode() const;
    bool enterFlag() const;
    uint64_t hotpCounter(const std::string& tokenSerial) const;

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

private:
    vkey::KeyState pluggedKey() const;
    template <typename F> void editAllKeys(F&& edit);

    std::string m_dir;
    std::unique_ptr<vkey::VirtualDevice> m_device;
};
