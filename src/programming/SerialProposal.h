#pragma once

#include <string>
#include <vector>

namespace otp::programming {

// Proposes the serial number of the next token on a key: the key's serial
// number as prefix followed by a two-digit (or longer) count. After P99 the
// gaps left by removed tokens are filled from the lowest; above 99 the count
// continues from the highest. Without a key serial number, or when the count
// cannot go any higher, a fresh random serial number is proposed instead.
std::string next_serial_number(const std::vector<std::string>& listedSerials,
                               const std::string& keySerialNumber);

} // namespace otp::programming
