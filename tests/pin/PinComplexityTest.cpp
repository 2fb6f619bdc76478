#include "pin/PinComplexity.h"

#include <gtest/gtest.h>

namespace {

// The rule values of one case; anything not named is 0 for the minimums and
// 9 for the two maximums.
struct Rules
{
    uint8_t minLength = 0, minNumeric = 0, minLowercase = 0, minUppercase = 0, minSpecial = 0;
    uint8_t maxSequential = 9, maxRepeating = 9;
};

PinPolicyRecord recordWith(const Rules& r)
{
    PinPolicyRecord rec;
    rec.minLength = r.minLength;
    rec.minNumeric = r.minNumeric;
    rec.minLowercase = r.minLowercase;
    rec.minUppercase = r.minUppercase;
    rec.minSpecial = r.minSpecial;
    rec.maxSequential = r.maxSequential;
    rec.maxRepeating = r.maxRepeating;
    return rec;
}

struct Case
{
    const char* what;
    Rules rules;
    std::string pin;
    std::string message; // empty: passes
};

const std::string kLength = "The minimum PIN length allowed is ";
const std::string kSequential = "The maximum length of sequential letters allowed is ";
const std::string kRepeating = "The maximum pairs of repeating letters allowed is ";
const std::string kNumeric = "The minimum number of numeric letter required is ";
const std::string kLower = "The minimum number of lowercase letter required is ";
const std::string kUpper = "The minimum number of uppercase letter required ";
const std::string kSpecial = "the minimum number of specical letter required is ";

const Case kCases[] = {
    {"empty PIN", {}, "", ""},
    {"empty PIN under every minimum but length", {.minNumeric = 1}, "", kNumeric + "1"},

    {"one byte short", {.minLength = 4}, "qaz", kLength + "4"},
    {"exactly long enough", {.minLength = 4}, "qazw", ""},
    {"length is checked first",
     {.minLength = 5, .minNumeric = 3, .maxRepeating = 1},
     "aaaa",
     kLength + "5"},

    {"two ascending digits between letters", {.maxSequential = 2}, "x12y", ""},
    {"three ascending digits", {.maxSequential = 2}, "x123y", kSequential + "2"},
    {"run equal to the limit", {.maxSequential = 3}, "abc", ""},
    {"run one over the limit", {.maxSequential = 3}, "abcd", kSequential + "3"},
    {"descending steps count too", {.maxSequential = 2}, "cba", kSequential + "2"},
    {"directions mix: up, down", {.maxSequential = 2}, "121", kSequential + "2"},
    {"directions mix: up, up, down", {.maxSequential = 3}, "abcb", kSequential + "3"},
    {"a gap restarts the run", {.maxSequential = 2}, "12x12", ""},
    {"limit 1 forbids any step", {.maxSequential = 1}, "ab", kSequential + "1"},
    {"limit 0 allows single characters", {.maxSequential = 0}, "aca", ""},
    {"limit 0 forbids any step", {.maxSequential = 0}, "xab", kSequential + "0"},
    {"0x7F then 0x80 is no step", {.maxSequential = 1}, "\x7f\x80", ""},
    {"0x80 then 0x81 is a step", {.maxSequential = 1}, "\x80\x81", kSequential + "1"},
    {"the run starts from NUL", {.maxSequential = 1}, "\x01z", kSequential + "1"},

    {"digit twice, not adjacent", {.maxRepeating = 1}, "1x1", ""},
    {"digit twice, adjacent", {.maxRepeating = 1}, "x11", kRepeating + "1"},
    {"doubled within limit 2", {.maxRepeating = 2}, "xaay", ""},
    {"tripled over limit 2", {.maxRepeating = 2}, "xaaay", kRepeating + "2"},
    {"runs fail before counts", {.minNumeric = 1, .maxRepeating = 1}, "zz", kRepeating + "1"},

    {"too few digits", {.minNumeric = 2}, "aze1", kNumeric + "2"},
    {"enough digits", {.minNumeric = 2}, "a1e5", ""},
    {"too few lowercase", {.minLowercase = 1}, "AZ19", kLower + "1"},
    {"too few uppercase", {.minUppercase = 1}, "az19", kUpper + "1"},
    {"too few special", {.minSpecial = 1}, "az19", kSpecial + "1"},
    {"one punctuation mark is enough", {.minSpecial = 1}, "az19!", ""},
    {"space and control bytes are special", {.minSpecial = 2}, " \t", ""},
    {"digits are reported before lowercase",
     {.minNumeric = 1, .minLowercase = 1},
     "AZ",
     kNumeric + "1"},
    {"lowercase before uppercase", {.minLowercase = 1, .minUppercase = 1}, "19", kLower + "1"},
    {"uppercase before special", {.minUppercase = 1, .minSpecial = 1}, "az", kUpper + "1"},

    // U+00E9 typed in a dialog is the two UTF-8 bytes C3 A9, both special.
    {"accented letter has length 2", {.minLength = 2}, "\xc3\xa9", ""},
    {"accented letter is not length 3", {.minLength = 3}, "\xc3\xa9", kLength + "3"},
    {"accented letter counts twice as special", {.minSpecial = 2}, "\xc3\xa9", ""},
    {"but not three times", {.minSpecial = 3}, "\xc3\xa9", kSpecial + "3"},

    {"limits above 99 are written in full", {.minLength = 200}, "x", kLength + "200"},
};

TEST(CheckPinComplexity, Rules)
{
    for (const Case& c : kCases) {
        const PinCheckResult result = check_pin_complexity(c.pin, recordWith(c.rules));
        EXPECT_EQ(result.ok, c.message.empty()) << c.what;
        EXPECT_EQ(result.message, c.message) << c.what;
    }
}

TEST(CheckPinComplexity, LargestLimitsAllowRunsOf255)
{
    std::string alternating;
    for (int i = 0; i < 255; ++i)
        alternating += (i % 2 != 0) ? 'b' : 'a';
    const PinPolicyRecord sequential = recordWith({.maxSequential = 255});
    EXPECT_TRUE(check_pin_complexity(alternating, sequential).ok);
    EXPECT_EQ(check_pin_complexity(alternating + 'b', sequential).message, kSequential + "255");

    const PinPolicyRecord repeating = recordWith({.maxRepeating = 255});
    EXPECT_TRUE(check_pin_complexity(std::string(255, 'z'), repeating).ok);
    EXPECT_EQ(check_pin_complexity(std::string(256, 'z'), repeating).message, kRepeating + "255");
}

TEST(CheckPinComplexity, IgnoresTheNonRuleFields)
{
    PinPolicyRecord rec = recordWith({.minLength = 2});
    rec.enabled = 0;
    rec.pinDigest.fill(0xFF);
    rec.expiryDays = 1;
    rec.pinSetTime = 1;
    EXPECT_FALSE(check_pin_complexity("x", rec).ok);
    EXPECT_TRUE(check_pin_complexity("xz", rec).ok);
}

} // namespace
