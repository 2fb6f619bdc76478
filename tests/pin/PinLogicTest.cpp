#include "PinTestSupport.h"
#include "pin/PinComplexity.h"
#include "support/ScriptedDevice.h"
#include "support/VirtualKeyDevice.h"

#include <gtest/gtest.h>

namespace {

std::vector<uint8_t> bytesOf(std::string_view s)
{
    return {s.begin(), s.end()};
}

PinPolicyRecord sampleRecord()
{
    PinPolicyRecord r{1, {}, 0x0102030405060708, 0xBEEF, 4, 1, 2, 3, 5, 6, 7};
    for (std::size_t i = 0; i < r.pinDigest.size(); ++i)
        r.pinDigest[i] = static_cast<uint8_t>(0xA0 + i);
    return r;
}

TEST(PinPolicyRecord, PackedLittleEndianAnd48Base64Characters)
{
    EXPECT_EQ(hex(to_bytes(sampleRecord())), "01a0a1a2a3a4a5a6a7a8a9aaabacadaeaf"
                                             "0807060504030201efbe04010203050607");
    PinPolicyRecord full = sampleRecord();
    full.pinSetTime = -1;
    for (const PinPolicyRecord& r : {PinPolicyRecord{}, full, sampleRecord()}) {
        const std::string text = base64_encode(to_bytes(r));
        ASSERT_EQ(text.size(), 48u);
        EXPECT_EQ(text.substr(46), "==");
        auto decoded = base64_decode(text);
        ASSERT_TRUE(decoded && decoded->size() == kPinPolicyRecordSize);
        EXPECT_EQ(pin_policy_from_bytes(std::span<const uint8_t, 34>(decoded->data(), 34)), r);
    }
}

TEST(Base64, EncodeAndDecode)
{
    // RFC 4648 vectors, both ways: the prefixes of "foobar".
    const char* encoded[] = {"", "Zg==", "Zm8=", "Zm9v", "Zm9vYg==", "Zm9vYmE=", "Zm9vYmFy"};
    for (std::size_t n = 0; n < std::size(encoded); ++n) {
        EXPECT_EQ(base64_encode(bytesOf(std::string_view("foobar", n))), encoded[n]);
        EXPECT_EQ(base64_decode(encoded[n]), bytesOf(std::string_view("foobar", n)));
    }
    EXPECT_EQ(base64_encode(bytesOf(std::string_view("\xff\xfe\x00", 3))), "//4A");

    const auto invalid = failure<std::vector<uint8_t>>(0, "Invalid base64 input.");
    const std::pair<std::string, PinResult<std::vector<uint8_t>>> cases[] = {
        {"Zg==Zm9v", bytesOf("f")}, // decoding ends at the first '='
        {"Zm8=!!!!", bytesOf("fo")},
        {base64_encode(to_bytes(sampleRecord())).substr(0, 47), invalid},
        {"Zm9v Zg=", invalid},
        {"Zm9v\nZg=", invalid},
        {"Zm9-", invalid},
        {"Zm9\xc3", invalid},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(base64_decode(text), expected) << text;
}

TEST(PinPolicyOnKey, ReadersOnEveryStateOfTheRecord)
{
    const auto uninitialised = failure<PinPolicyRecord>(
        0, "Failed to read PIN policy. Ask Admin to initialize the device.");
    PinPolicyRecord off = sampleRecord();
    off.enabled = 0;
    // The serial text of the slot-1 record; what each reader makes of it.
    const std::tuple<std::optional<std::string>, PinResult<PinPolicyRecord>, PinPolicyRecord>
        cases[] = {
            {std::nullopt, uninitialised, {}},
            {"", uninitialised, {}},
            {"not base64 at all!", uninitialised, {}},
            {base64_encode(std::vector<uint8_t>(33, 1)), uninitialised, {}},
            {base64_encode(std::vector<uint8_t>(35, 1)), uninitialised, {}},
            {base64_encode(to_bytes(off)), uninitialised, off},
            {base64_encode(to_bytes(sampleRecord())), sampleRecord(), sampleRecord()},
        };
    for (const auto& [slot1, read, orZero] : cases) {
        SCOPED_TRACE(slot1.value_or("(none)"));
        VirtualKeyDevice key;
        if (slot1) {
            OtpTokenRecord token = pin_policy_token({});
            std::memset(token.serial, 0, sizeof token.serial);
            std::memcpy(token.serial, slot1->data(), slot1->size());
            ASSERT_EQ(key.OtpPersonalize(token, nullptr, 0, 1), VN_OK);
        }
        EXPECT_EQ(read_pin_policy(key), read);
        EXPECT_EQ(read_pin_policy_or_zero(key), orZero);
        ScriptedDevice failing(key);
        failing.failAlways(DeviceCall::OtpList, VN_ERR_NO_DEVICE);
        EXPECT_EQ(read_pin_policy(failing),
                  failure<PinPolicyRecord>(0, "Failed to read PIN policy."));
        EXPECT_EQ(read_pin_policy_or_zero(failing), PinPolicyRecord{});
    }
}

TEST(PinPolicyOnKey, WriteSendsThePseudoTokenWithoutAccessCode)
{
    VirtualKeyDevice key;
    ScriptedDevice device(key);
    ASSERT_TRUE(write_pin_policy(device, sampleRecord()));
    const RecordedCall call = device.callsOf(DeviceCall::OtpPersonalize).at(0);
    EXPECT_TRUE(call.accessIsNull && call.access.empty());
    EXPECT_EQ(call.flag, 1);
    OtpTokenRecord expected{1, 0x20, 1, 6, 30, {}, {'5', '0', '8', '2', '7', '4', '1', '3'}, 8};
    std::memcpy(expected.serial, base64_encode(to_bytes(sampleRecord())).data(), 48);
    EXPECT_EQ(0, std::memcmp(&call.record, &expected, sizeof expected));
    EXPECT_EQ(read_pin_policy(key), sampleRecord());

    device.failNext(DeviceCall::OtpPersonalize, VN_ERR_STORAGE);
    EXPECT_EQ(write_pin_policy(device, {}), failure(0, "Failed to write PIN policy."));
    key.setTouchNever(20);
    EXPECT_EQ(write_pin_policy(device, {}), failure(1, "Token timed out"));
}

TEST(CheckPinComplexity, RulesInOrderWithTheirMessages)
{
    const std::string len = "The minimum PIN length allowed is ";
    const std::string seq = "The maximum length of sequential letters allowed is ";
    const std::string rep = "The maximum pairs of repeating letters allowed is ";
    const std::string special = "the minimum number of specical letter required is ";
    std::string alternating255;
    for (int i = 0; i < 255; ++i)
        alternating255 += "ab"[i % 2];
    // The PIN; the rules: minimum length, digits, lower, upper and special,
    // maximum sequential and repeating run; the message, empty when it passes.
    const std::tuple<std::string, std::array<uint8_t, 7>, std::string> cases[] = {
        {"", {0, 0, 0, 0, 0, 9, 9}, ""},
        {"qaz", {4, 0, 0, 0, 0, 9, 9}, len + "4"},
        {"aaaa", {5, 3, 0, 0, 0, 9, 1}, len + "5"}, // length is checked first
        {"x12y", {0, 0, 0, 0, 0, 2, 9}, ""},
        {"x123y", {0, 0, 0, 0, 0, 2, 9}, seq + "2"},
        {"121", {0, 0, 0, 0, 0, 2, 9}, seq + "2"}, // up then down is one run
        {"xab", {0, 0, 0, 0, 0, 0, 9}, seq + "0"},
        {"\x7f\x80", {0, 0, 0, 0, 0, 1, 9}, ""}, // signed bytes: 127, -128
        {"\x80\x81", {0, 0, 0, 0, 0, 1, 9}, seq + "1"},
        {"\x01z", {0, 0, 0, 0, 0, 1, 9}, seq + "1"}, // the run starts from NUL
        {alternating255, {0, 0, 0, 0, 0, 255, 9}, ""},
        {alternating255 + "b", {0, 0, 0, 0, 0, 255, 9}, seq + "255"},
        {"1x1", {0, 0, 0, 0, 0, 9, 1}, ""},
        {"x11", {0, 0, 0, 0, 0, 9, 1}, rep + "1"},
        {"xaay", {0, 0, 0, 0, 0, 9, 2}, ""},
        {"xaaay", {0, 0, 0, 0, 0, 9, 2}, rep + "2"},
        {"zz", {0, 1, 0, 0, 0, 9, 1}, rep + "1"}, // runs before counts
        {"aze1", {0, 2, 0, 0, 0, 9, 9}, "The minimum number of numeric letter required is 2"},
        {"AZ", {0, 1, 1, 0, 0, 9, 9}, "The minimum number of numeric letter required is 1"},
        {"19", {0, 0, 1, 1, 0, 9, 9}, "The minimum number of lowercase letter required is 1"},
        {"az19", {0, 0, 0, 1, 1, 9, 9}, "The minimum number of uppercase letter required 1"},
        {"az19", {0, 0, 0, 0, 1, 9, 9}, special + "1"},
        {"az19!", {0, 0, 0, 0, 1, 9, 9}, ""},
        // U+00E9 in UTF-8: two bytes, both special.
        {"\xc3\xa9", {2, 0, 0, 0, 2, 9, 9}, ""},
        {"\xc3\xa9", {3, 0, 0, 0, 0, 9, 9}, len + "3"},
        {"\xc3\xa9", {0, 0, 0, 0, 3, 9, 9}, special + "3"},
    };
    for (const auto& [pin, n, message] : cases) {
        const PinPolicyRecord r{1, {}, 0, 0, n[0], n[1], n[2], n[3], n[4], n[5], n[6]};
        const PinCheckResult result = check_pin_complexity(pin, r);
        EXPECT_EQ(result.message, message) << pin;
        EXPECT_EQ(result.ok, message.empty()) << pin;
    }
}

} // namespace
