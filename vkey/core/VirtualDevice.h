#pragma once

// The eleven operations of the device library, acting on the one key that is
// plugged in under a key directory. Each call reads the key afresh and saves
// every change before it returns, so several processes can share the keys.
// No call throws; every failure is a status.

#include "KeyStore.h"

#include <VN_Manager.h>

#include <cstdint>
#include <filesystem>
#include <functional>

namespace vkey {

class VirtualDevice
{
public:
    explicit VirtualDevice(std::filesystem::path dir) : m_store(std::move(dir)) {}

    const KeyStore& store() const { return m_store; }

    uint32_t listDevice(uint32_t* reserved, uint32_t flags);
    uint32_t getDeviceInfo(DeviceInfoRecord* info);
    uint32_t otpList(uint32_t slot, OtpTokenRecord* records);
    uint32_t otpPersonalize(const OtpTokenRecord& record, const char* access, uint32_t accessLen,
                            uint8_t flag);
    uint32_t otpCalculate(const OtpTokenRecord& record, const char* challenge,
                          uint32_t challengeLen, char* otp, uint32_t* reserved, const char* access,
                          uint32_t accessLen);
    uint32_t otpDelete(const OtpTokenRecord& record, const char* access, uint32_t accessLen);
    uint32_t otpReset();
    uint32_t otpSetValueWithEnter(uint8_t enter);
    uint32_t otpHasAccess(uint32_t slot, uint8_t* hasAccess);
    uint32_t otpSetAccess(uint32_t slot, const char* code, uint32_t codeLen);
    uint32_t otpChangeAccess(uint32_t slot, const char* oldCode, uint32_t oldLen,
                             const char* newCode, uint32_t newLen);

private:
    // Checks (and, when it answers 0, may change) the plugged key's state.
    using Operation = std::function<uint32_t(KeyState&)>;

    // Runs op on the plugged key under the lock and saves what it changed.
    uint32_t update(const Operation& op);
    // For the operations that wait for a touch: op first runs on a copy, so
    // the key refuses a bad request at once; after the touch it runs again
    // on the key as it is then, and the result is saved.
    uint32_t updateAfterTouch(const Operation& op);

    KeyStore m_store;
};

} // namespace vkey
