#pragma once

// Puts a key into a known PIN state for a test, through the same calls the
// program makes.

#include "pin/PinPolicyRecord.h"

#include <cstring>
#include <stdexcept>
#include <string>

// A policy in force with no complexity rules worth mentioning.
inline PinPolicyRecord openPolicy()
{
    PinPolicyRecord r;
    r.enabled = 1;
    r.maxSequential = 9;
    r.maxRepeating = 9;
    return r;
}

inline void storePolicy(DeviceApi& device, const PinPolicyRecord& record)
{
    if (!write_pin_policy(device, record))
        throw std::runtime_error("could not store the PIN policy");
}

// Writes arbitrary text into the slot-1 record's serial field.
inline void storeSlot1Text(DeviceApi& device, const std::string& text)
{
    OtpTokenRecord token = pin_policy_token(PinPolicyRecord{});
    std::memset(token.serial, 0, sizeof token.serial);
    std::memcpy(token.serial, text.data(), text.size());
    if (device.OtpPersonalize(token, nullptr, 0, 1) != VN_OK)
        throw std::runtime_error("could not store the slot-1 text");
}

// The record as it is on the key, whatever its `enabled` byte.
inline PinPolicyRecord storedPolicy(DeviceApi& device)
{
    return read_pin_policy_or_zero(device);
}
