// The complexity check of a new PIN: any bytes as PIN (it is typed text in
// any language, sent as UTF-8) against any rule values the record may hold.

#include "FuzzCheck.h"
#include "pin/PinComplexity.h"

#include <string_view>

using namespace otp;
using namespace otp::core;
using namespace otp::device;
using namespace otp::pin;

// Seven bytes of rule values (minLength, minNumeric, minLowercase,
// minUppercase, minSpecial, maxSequential, maxRepeating), then the PIN.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 7)
        return 0;
    PinPolicyRecord rules;
    rules.minLength = data[0];
    rules.minNumeric = data[1];
    rules.minLowercase = data[2];
    rules.minUppercase = data[3];
    rules.minSpecial = data[4];
    rules.maxSequential = data[5];
    rules.maxRepeating = data[6];
    const std::string_view pin(reinterpret_cast<const char*>(data + 7), size - 7);

    const auto result = check_pin_complexity(pin, rules);
    FUZZ_CHECK(result ||
               (result.error().fault == Fault::Refused && !result.error().detail.empty()));
    if (pin.size() < rules.minLength)
        FUZZ_CHECK(!result && result.error().detail.starts_with("The minimum PIN length"));

    // Loosening every rule never turns an accepted PIN down, and with no
    // rules at all any PIN short enough for the run limits is accepted.
    PinPolicyRecord none;
    none.maxSequential = 255;
    none.maxRepeating = 255;
    const auto loose = check_pin_complexity(pin, none);
    if (result || pin.size() < 255)
        FUZZ_CHECK(loose.has_value());
    return 0;
}
