#pragma once

// A DeviceApi over the virtual-key core in a private temporary directory. It
// records every call, can answer scripted statuses without reaching the key,
// and runs a hook before every call.

#include "device/DeviceApi.h"

#include <QTemporaryDir>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace vkey {
class VirtualDevice;
struct KeyState;
} // namespace vkey

enum class DeviceCall {
    ListDevice,
    GetDeviceInfo,
    OtpList,
    OtpPersonalize,
    OtpCalculate,
    OtpDelete,
    OtpReset,
    OtpSetValueWithEnter,
    OtpHasAccess,
    OtpSetAccess,
    OtpChangeAccess,
};

struct RecordedCall
{
    DeviceCall call = DeviceCall::ListDevice;
    uint32_t status = 0;     // what the caller got back
    OtpTokenRecord record{}; // OtpPersonalize, OtpCalculate, OtpDelete
    std::string access{};    // access text; SetAccess code; ChangeAccess new code
    std::string challenge{}; // OtpCalculate
    uint8_t flag = 0;        // OtpSetValueWithEnter
};

class VirtualKeyDevice final : public otp::device::DeviceApi
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

    // The single plugged key (throws unless exactly one), as KeyState.h has it:
    vkey::KeyState keyState() const;
    std::vector<std::string> storedSerials() const;

    // The next call of this kind answers status without reaching the key.
    void failNext(DeviceCall call, uint32_t status) { m_once[call].push_back(status); }

    const std::vector<RecordedCall>& calls() const { return m_calls; }
    std::vector<RecordedCall> callsOf(DeviceCall call) const;
    int count(DeviceCall call) const { return static_cast<int>(callsOf(call).size()); }
    void clearCalls() { m_calls.clear(); }

    // Runs before every call, scripted or not: a look at the window while the
    // key would wait, or a change made behind the program's back.
    std::function<void(DeviceCall)> beforeCall;
    // When not empty, a listing of all slots answers these records.
    std::vector<OtpTokenRecord> cannedListing;

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
    // Answers from the script, or else from the key, and records the call.
    uint32_t run(RecordedCall entry, const std::function<uint32_t(vkey::VirtualDevice&)>& onKey);

    QTemporaryDir m_tempDir;
    std::string m_dir;
    std::unique_ptr<vkey::VirtualDevice> m_device;
    std::map<DeviceCall, std::deque<uint32_t>> m_once;
    std::vector<RecordedCall> m_calls;
};
