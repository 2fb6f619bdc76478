#pragma once

#include "pin/PinPolicyRecord.h"

#include <stdexcept>

// The failure a PIN operation answers: its fault, its text, and the key's
// status when the key refused.
template <class T = void> OpResult<T> failure(Fault fault, std::string detail, uint32_t status = 0)
{
    return std::unexpected(OpError{fault, status, std::move(detail)});
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
