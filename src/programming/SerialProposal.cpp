#include "programming/SerialProposal.h"

#include "programming/SeedHandling.h"

#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>

namespace otp::programming {

namespace {

std::string random_serial_number()
{
    char buffer[kSerialBufferSize] = {};
    generate_serial_number(buffer);
    return std::string(buffer, kSerialNumberLength);
}

bool is_c_space(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads the number after the prefix the way std::stoi does: leading white
// space and a sign are allowed, reading stops at the first non-digit, at
// least one digit is needed, and the value must fit a 32-bit signed integer.
std::optional<int32_t> parse_count(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && is_c_space(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    const std::size_t firstDigit = i;
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        // Past this bound nothing can bring it back into range; stop before
        // the accumulator itself could overflow.
        if (value > int64_t{std::numeric_limits<int32_t>::max()} + 1)
            return std::nullopt;
    }
    if (i == firstDigit)
        return std::nullopt;
    if (negative)
        value = -value;
    if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max())
        return std::nullopt;
    return static_cast<int32_t>(value);
}

} // namespace

std::string next_serial_number(const std::vector<std::string>& listedSerials,
                               const std::string& keySerialNumber)
{
    if (keySerialNumber.empty())
        return random_serial_number();

    int32_t highest = 0;
    std::array<bool, 100> used{}; // index 1..99
    for (const std::string& serial : listedSerials) {
        if (!serial.starts_with(keySerialNumber))
            continue;
        const auto count = parse_count(std::string_view(serial).substr(keySerialNumber.size()));
        if (!count)
            continue;
        highest = std::max(highest, *count);
        if (*count >= 1 && *count <= 99)
            used[static_cast<std::size_t>(*count)] = true;
    }

    int32_t next = 0;
    if (highest == 99) {
        for (int32_t n = 1; n <= 99 && next == 0; ++n)
            if (!used[static_cast<std::size_t>(n)])
                next = n;
    }
    if (next == 0) {
        // A count already at the top of the range has nowhere to go; a random
        // serial number keeps the new token unique instead of wrapping round.
        if (highest == std::numeric_limits<int32_t>::max())
            return random_serial_number();
        next = highest + 1;
    }

    std::string number = std::to_string(next);
    if (number.size() < 2)
        number.insert(0, 1, '0');
    return keySerialNumber + number;
}

} // namespace otp::programming
