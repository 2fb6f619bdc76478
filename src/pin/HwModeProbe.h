#pragma once

#include "device/DeviceApi.h"

// The key is in hardware PIN mode ("PIN protection mode 0") when it has an
// access-code function. The probe changes the access code from the fixed
// probe text to itself; only a key without the function answers
// VN_ERR_NO_HW_ACCESS, every other status means hardware mode.
bool is_hwmaccess_supported(DeviceApi& device);
