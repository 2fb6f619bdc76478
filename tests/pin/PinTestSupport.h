#pragma once

#include "pin/PinPolicyRecord.h"

#include <stdexcept>

template <class T = void> PinResult<T> failure(int32_t code, std::string message)
{
    return std::unexpected(Err{code, std::move(message)});
}

// A session of its own for one call, as every click and command has one: the
// PIN mode is probed afresh.
struct Session
{
    explicit Session(DeviceApi& device) : key(device) {}
    operator KeySession&() { return key; }
    KeySession key;
};

inline PinPolicyRecord openPolicy()
{
    return PinPolicyRecord{.enabled = 1, .maxSequential = 9, .maxRepeating = 9};
}

inline void storePolicy(DeviceApi& device, const PinPolicyRecord& record)
{
    if (!write_pin_policy(Session(device), record))
        throw std::runtime_error("could not store the PIN policy");
}
