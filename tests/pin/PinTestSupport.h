#pragma once

#include "pin/PinPolicyRecord.h"

#include <stdexcept>

template <class T = void> PinResult<T> failure(int32_t code, std::string message)
{
    return std::unexpected(Err{code, std::move(message)});
}

inline PinPolicyRecord openPolicy()
{
    return PinPolicyRecord{.enabled = 1, .maxSequential = 9, .maxRepeating = 9};
}

inline void storePolicy(DeviceApi& device, const PinPolicyRecord& record)
{
    if (!write_pin_policy(device, record))
        throw std::runtime_error("could not store the PIN policy");
}
