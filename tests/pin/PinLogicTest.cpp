#include "PinTestSupport.h"
#include "core/Codecs.h"
#include "pin/PinComplexity.h"
#include "support/VirtualKeyDevice.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace otp;
using namespace otp::core;
using namespace otp::device;
using namespace otp::pin;

namespace {

// Every field holds its own value, so a swap of two fields changes the text.
const std::string kSampleText = "AaChoqOkpaanqKmqq6ytrq8IBwYFBAMCAe++BAECAwUGBw==";

PinPolicyRecord sampleRecord()
{
    PinPolicyRecord r{1, {}, 0x0102030405060708, 0xBEEF, 4, 1, 2, 3, 5, 6, 7};
    for (std::size_t i = 0; i < r.pinDigest.size(); ++i)
        r.pinDigest[i] = static_cast<uint8_t>(0xA0 + i);
    return r;
}

TEST(Base64, RoundTripAndDecoderFailures)
{
    const auto bytesOf = [](std::string_view s) {
        return std::vector<uint8_t>(s.begin(), s.end());
    };
    const char* encoded[] = {"", "Zg==", "Zm8=", "Zm9v", "Zm9vYg==", "Zm9vYmE=", "Zm9vYmFy"};
    for (std::size_t n = 0; n < std::size(encoded); ++n) {
        EXPECT_EQ(base64_encode(bytesOf(std::string_view("foobar", n))), encoded[n]);
        EXPECT_EQ(pin_record_base64_decode(encoded[n]), bytesOf(std::string_view("foobar", n)));
        EXPECT_EQ(base64_decode(encoded[n]), bytesOf(std::string_view("foobar", n)));
    }
    EXPECT_EQ(base64_encode(to_bytes(sampleRecord())), kSampleText); // read back below
    const auto invalid = failure<std::vector<uint8_t>>(Fault::Refused, "Invalid base64 input.");
    const std::pair<std::string, OpResult<std::vector<uint8_t>>> cases[] = {
        {"Zg==Zm9v", bytesOf("f")}, // decoding ends at the first '='
        {kSampleText.substr(0, 47), invalid},
        {"Zm9v Zg=", invalid},
        {"Zm9\xc3", invalid},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(pin_record_base64_decode(text), expected) << text;
    // The strict decoder the PSKC file and the PIN record share: padding only
    // at the end, the alphabet only.
    for (const std::string_view bad : {"Zg==Zm9v", " Zg=", "Z===", "Zg=a", "Zm9", "Zm9v\n", "===="})
        EXPECT_EQ(base64_decode(bad), std::nullopt) << bad;
}

TEST(PinPolicyOnKey, UnreadableOrSwitchedOffRecordIsRefused)
{
    PinPolicyRecord off = sampleRecord();
    off.enabled = 0;
    const auto refused = failure<PinPolicyRecord>(
        Fault::Refused, "Failed to read PIN policy. Ask Admin to initialize the device.");
    const std::pair<std::string, OpResult<PinPolicyRecord>> cases[] = {
        {"not base64 at all!", refused},
        {base64_encode(std::vector<uint8_t>(33, 1)), refused},
        {base64_encode(to_bytes(off)), refused},
        {kSampleText, sampleRecord()},
    };
    for (const auto& [slot1, expected] : cases) {
        VirtualKeyDevice key;
        ASSERT_TRUE(KeySession(key).write_pin_record(slot1));
        EXPECT_EQ(read_pin_policy(Session(key)), expected) << slot1;
    }
}

// The record travels as the serial text of a TOTP pseudo-token in slot 1
// with a filler seed, and never with an access code.
TEST(PinPolicyOnKey, IsWrittenAsTheSlotOnePseudoToken)
{
    VirtualKeyDevice key;
    ASSERT_TRUE(write_pin_policy(Session(key), sampleRecord()));
    const auto calls = key.callsOf(DeviceCall::OtpPersonalize);
    ASSERT_EQ(calls.size(), 1u);
    OtpTokenRecord expected{};
    expected.slot = VN_SLOT_PIN_RECORD;
    expected.type = VN_TYPE_TOTP;
    expected.hash = VN_HASH_SHA1;
    expected.digits = 6;
    expected.interval = 30;
    std::memcpy(expected.serial, kSampleText.data(), kSampleText.size());
    std::memcpy(expected.seed, "50827413", 8);
    expected.seedLength = 8;
    EXPECT_EQ(std::memcmp(&calls[0].record, &expected, sizeof expected), 0);
    EXPECT_EQ(calls[0].access, "");
}

TEST(CheckPinComplexity, BoundariesAndMessages)
{
    const std::string len = "The minimum PIN length allowed is ";
    const std::string seq = "The maximum length of sequential letters allowed is ";
    const std::string rep = "The maximum pairs of repeating letters allowed is ";
    const std::string special = "the minimum number of specical letter required is ";
    // The PIN; minimum length, digits, lower, upper, special, maximum
    // sequential and repeating; the message, empty when it passes.
    const std::tuple<std::string, std::array<uint8_t, 7>, std::string> cases[] = {
        {"qazw", {4, 0, 0, 0, 0, 9, 9}, ""},
        {"qaz", {4, 0, 0, 0, 0, 9, 9}, len + "4"},
        {"x12y", {0, 0, 0, 0, 0, 2, 9}, ""},
        {"x123y", {0, 0, 0, 0, 0, 2, 9}, seq + "2"},
        {"x321y", {0, 0, 0, 0, 0, 2, 9}, seq + "2"},
        {"\x7f\x80", {0, 0, 0, 0, 0, 1, 9}, ""}, // signed bytes: 127, -128
        {"\x80\x81", {0, 0, 0, 0, 0, 1, 9}, seq + "1"},
        {"xaay", {0, 0, 0, 0, 0, 9, 2}, ""},
        {"xaaay", {0, 0, 0, 0, 0, 9, 2}, rep + "2"},
        {"a1z1", {0, 2, 0, 0, 0, 9, 9}, ""},
        {"aze1", {0, 2, 0, 0, 0, 9, 9}, "The minimum number of numeric letter required is 2"},
        {"19", {0, 0, 1, 1, 0, 9, 9}, "The minimum number of lowercase letter required is 1"},
        {"az19", {0, 0, 0, 1, 1, 9, 9}, "The minimum number of uppercase letter required 1"},
        {"az19", {0, 0, 0, 0, 1, 9, 9}, special + "1"},
        {"\xc3\xa9", {2, 0, 0, 0, 2, 9, 9}, ""}, // U+00E9: two bytes, both special
        {"\xc3\xa9", {3, 0, 0, 0, 0, 9, 9}, len + "3"},
        {"\xc3\xa9", {0, 0, 0, 0, 3, 9, 9}, special + "3"},
    };
    for (const auto& [pin, n, message] : cases) {
        const PinPolicyRecord r{1, {}, 0, 0, n[0], n[1], n[2], n[3], n[4], n[5], n[6]};
        const auto checked = check_pin_complexity(pin, r);
        EXPECT_EQ(checked, message.empty() ? OpResult<void>() : failure(Fault::Refused, message))
            << pin;
    }
}

} // namespace
