#include "pin/PinPolicyForm.h"

#include <gtest/gtest.h>

namespace {

TEST(PolicyField, AcceptsExactlyTheWholeNumbersInRange)
{
    struct Case
    {
        PolicyField field;
        std::string text;
        std::optional<uint32_t> value;
    };
    const Case cases[] = {
        {PolicyField::MinLength, "0", 0},
        {PolicyField::MinLength, "9", 9},
        {PolicyField::MinLength, "255", 255},
        {PolicyField::MinLength, "0255", 255},
        {PolicyField::MinLength, "256", std::nullopt},
        {PolicyField::MaxRepeating, "300", std::nullopt},
        {PolicyField::MaxSequential, "4294967296", std::nullopt}, // beyond 32 bits
        {PolicyField::MinSpecial, "", std::nullopt},
        {PolicyField::MinSpecial, "-1", std::nullopt},
        {PolicyField::MinSpecial, "+1", std::nullopt},
        {PolicyField::MinSpecial, " 1", std::nullopt},
        {PolicyField::MinSpecial, "1.0", std::nullopt},
        {PolicyField::MinSpecial, "x", std::nullopt},
        {PolicyField::ExpiryDays, "65535", 65535},
        {PolicyField::ExpiryDays, "65536", std::nullopt},
        {PolicyField::ExpiryDays, "65537", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(parse_policy_field(c.text, c.field), c.value) << '"' << c.text << '"';
}

TEST(PolicyField, RefusalNamesTheFieldAndItsRange)
{
    EXPECT_EQ(policy_field_error(PolicyField::MinLength),
              "Please enter a whole number from 0 to 255 for the minimum PIN length.");
    EXPECT_EQ(policy_field_error(PolicyField::ExpiryDays),
              "Please enter a whole number from 0 to 65535 for the days after which a newly set "
              "PIN expires.");
}

TEST(PolicyRecord, SaveKeepsThePinStateAndTakesEverythingElseAsEntered)
{
    PinPolicyRecord stored;
    stored.enabled = 0;
    stored.pinDigest.fill(0x5A);
    stored.pinSetTime = 1700000000;
    stored.minLength = 3;

    PolicyValues values;
    values.enabled = true;
    values.values = {255, 1, 2, 3, 4, 5, 6, 65535};
    const PinPolicyRecord saved = policy_record_with(stored, values);

    EXPECT_EQ(saved.enabled, 1);
    EXPECT_EQ(saved.pinDigest, stored.pinDigest);
    EXPECT_EQ(saved.pinSetTime, stored.pinSetTime);
    EXPECT_EQ(policy_values_of(saved).values, values.values);
    EXPECT_EQ(policy_values_of(saved).enabled, true);

    values.enabled = false;
    EXPECT_EQ(policy_record_with(stored, values).enabled, 0);
}

} // namespace
