#pragma once

#include "pin/PinPolicyRecord.h"

#include <stdexcept>

// The failure a PIN operation answers: its fault, its text, and the key's
// status when the key refused.
template <class T = void>
otp::core::OpResult<T> failure(otp::core::Fault fault, std::string detail, uint32_t status = 0)
{
    return std::unexpected(otp::core::OpError{fault, status, std::move(detail)});
}

// A session of its own for one call, as every click and command has one: the
// PIN mode is probed afresh.
struct Session
{
    explicit Session(otp::device::DeviceApi& device) : key(device) {}
    operator otp::device::KeySession&() { return key; }
    otp::device::KeySession key;
};

inline otp::pin::PinPolicyRecord openPolicy()
{
    return otp::pin::PinPolicyRecord{.enabled = 1, .maxSequential = 9, .maxRepeating = 9};
}

inline void storePolicy(otp::device::DeviceApi& device, const otp::pin::PinPolicyRecord& record)
{
    if (!otp::pin::write_pin_policy(Session(device), record))
        throw std::runtime_error("could not store the PIN policy");
}
