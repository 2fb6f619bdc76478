#include "core/Error.h"

#include <cstdio>

namespace otp::core {

std::string status_hex(uint32_t status)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", status);
    return text;
}

OpError device_fault(uint32_t status, Fault fault)
{
    return OpError{fault, status, status_hex(status)};
}

} // namespace otp::core
