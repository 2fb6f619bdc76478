#include "pin/PinComplexity.h"

#include <fmt/format.h>

using namespace otp::core;
using namespace otp::device;

namespace otp::pin {

namespace {

std::unexpected<OpError> broken(fmt::format_string<unsigned> text, unsigned limit)
{
    return fail(Fault::Refused, fmt::vformat(text, fmt::make_format_args(limit)));
}

} // namespace

OpResult<void> check_pin_complexity(std::string_view pin, const PinPolicyRecord& r)
{
    if (pin.size() < r.minLength)
        return broken("The minimum PIN length allowed is {}", r.minLength);

    unsigned digits = 0, lower = 0, upper = 0, special = 0;
    unsigned sequentialRun = 1, repeatRun = 1;
    // The run rules start from a NUL before the first byte, so a PIN may open
    // with a run already under way (a leading 0x01 counts as a step).
    int8_t previous = 0;
    for (char ch : pin) {
        // Classes by plain byte ranges rather than <cctype>, which would
        // depend on the locale and is undefined for bytes above 0x7F.
        if (ch >= '0' && ch <= '9')
            ++digits;
        else if (ch >= 'a' && ch <= 'z')
            ++lower;
        else if (ch >= 'A' && ch <= 'Z')
            ++upper;
        else
            ++special;

        // Signed bytes on purpose: 0x7F followed by 0x80 is a step of 255,
        // not of one.
        const auto c = static_cast<int8_t>(ch);
        const int step = c - previous;
        if (step == 1 || step == -1) {
            if (++sequentialRun > r.maxSequential)
                return broken("The maximum length of sequential letters allowed is {}",
                              r.maxSequential);
        } else {
            sequentialRun = 1;
        }
        if (c == previous) {
            if (++repeatRun > r.maxRepeating)
                return broken("The maximum pairs of repeating letters allowed is {}",
                              r.maxRepeating);
        } else {
            repeatRun = 1;
        }
        previous = c;
    }

    if (digits < r.minNumeric)
        return broken("The minimum number of numeric letter required is {}", r.minNumeric);
    if (lower < r.minLowercase)
        return broken("The minimum number of lowercase letter required is {}", r.minLowercase);
    if (upper < r.minUppercase)
        return broken("The minimum number of uppercase letter required {}", r.minUppercase);
    if (special < r.minSpecial)
        return broken("the minimum number of specical letter required is {}", r.minSpecial);
    return {};
}

} // namespace otp::pin
