#include "KeySetup.h"
#include "pin/PinPolicyRecord.h"
#include "support/ScriptedDevice.h"
#include "support/VirtualKeyDevice.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

std::vector<uint8_t> bytesOf(std::string_view s)
{
    return {s.begin(), s.end()};
}

PinPolicyRecord sampleRecord()
{
    PinPolicyRecord r;
    r.enabled = 1;
    for (std::size_t i = 0; i < r.pinDigest.size(); ++i)
        r.pinDigest[i] = static_cast<uint8_t>(0xA0 + i);
    r.pinSetTime = 0x0102030405060708;
    r.expiryDays = 0xBEEF;
    r.minLength = 4;
    r.minNumeric = 1;
    r.minLowercase = 2;
    r.minUppercase = 3;
    r.minSpecial = 5;
    r.maxSequential = 6;
    r.maxRepeating = 7;
    return r;
}

TEST(Base64, Rfc4648VectorsBothWays)
{
    const std::pair<std::string, std::string> vectors[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        {std::string("\xff\xfe\x00", 3), "//4A"},
    };
    for (const auto& [plain, encoded] : vectors) {
        EXPECT_EQ(base64_encode(bytesOf(plain)), encoded);
        auto decoded = base64_decode(encoded);
        ASSERT_TRUE(decoded) << encoded;
        EXPECT_EQ(*decoded, bytesOf(plain)) << encoded;
    }
}

TEST(Base64, DecoderFailures)
{
    const std::string valid48 = base64_encode(to_bytes(sampleRecord()));
    const std::string cases[] = {
        valid48.substr(0, 47),   // not a multiple of 4
        "Zm9v Zg=",              // space
        "Zm9v\nZg=",             // line break
        "Zm9-",                  // URL-safe alphabet is not ours
        "Zm9\xC3",               // byte above 0x7F
        std::string("Zm\0v", 4), // NUL inside the text
    };
    for (const std::string& text : cases) {
        auto decoded = base64_decode(text);
        ASSERT_FALSE(decoded) << text;
        EXPECT_EQ(decoded.error().code, 0);
        EXPECT_EQ(decoded.error().message, "Invalid base64 input.");
    }
}

TEST(Base64, StopsAtFirstPadding)
{
    // Whatever follows the first '=' is ignored, even characters that are
    // not base64 at all.
    const std::pair<std::string, std::string> cases[] = {
        {"Zg==Zm9v", "f"},
        {"Zm8=!!!!", "fo"},
        {"====", ""},
    };
    for (const auto& [text, expected] : cases) {
        auto decoded = base64_decode(text);
        ASSERT_TRUE(decoded) << text;
        EXPECT_EQ(*decoded, bytesOf(expected)) << text;
    }

    const PinPolicyBytes record = to_bytes(sampleRecord());
    const std::string text = base64_encode(record) + "Zm9!";
    auto decoded = base64_decode(text);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(*decoded, std::vector<uint8_t>(record.begin(), record.end()));
}

TEST(PinPolicyRecord, LayoutIsPackedLittleEndian)
{
    const PinPolicyBytes b = to_bytes(sampleRecord());
    EXPECT_EQ(b[0], 1);
    EXPECT_EQ(b[1], 0xA0);
    EXPECT_EQ(b[16], 0xAF);
    const uint8_t time[] = {0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01};
    EXPECT_EQ(0, std::memcmp(b.data() + 17, time, 8));
    EXPECT_EQ(b[25], 0xEF);
    EXPECT_EQ(b[26], 0xBE);
    const uint8_t rules[] = {4, 1, 2, 3, 5, 6, 7};
    EXPECT_EQ(0, std::memcmp(b.data() + 27, rules, 7));
}

TEST(PinPolicyRecord, EveryRecordEncodesTo48CharactersAndBack)
{
    PinPolicyRecord zero;
    PinPolicyRecord full = sampleRecord();
    full.pinDigest.fill(0xFF);
    full.pinSetTime = -1;
    full.expiryDays = 0xFFFF;
    PinPolicyRecord negativeTime = sampleRecord();
    negativeTime.pinSetTime = -86400;
    for (const PinPolicyRecord& r : {zero, full, negativeTime, sampleRecord()}) {
        const std::string text = base64_encode(to_bytes(r));
        ASSERT_EQ(text.size(), 48u);
        EXPECT_EQ(text.substr(46), "==");
        auto decoded = base64_decode(text);
        ASSERT_TRUE(decoded);
        ASSERT_EQ(decoded->size(), kPinPolicyRecordSize);
        EXPECT_EQ(pin_policy_from_bytes(
                      std::span<const uint8_t, kPinPolicyRecordSize>(decoded->data(), 34)),
                  r);
    }
}

TEST(PinPolicyOnKey, WriteSendsThePseudoTokenWithoutAccessCode)
{
    for (bool hardware : {true, false}) {
        VirtualKeyDevice key("VK1000001", hardware);
        ScriptedDevice device(key);
        const PinPolicyRecord record = sampleRecord();
        ASSERT_TRUE(write_pin_policy(device, record));

        const auto calls = device.callsOf(DeviceCall::OtpPersonalize);
        ASSERT_EQ(calls.size(), 1u);
        const RecordedCall& c = calls[0];
        EXPECT_TRUE(c.accessIsNull);
        EXPECT_EQ(c.access, "");
        EXPECT_EQ(c.flag, 1);
        EXPECT_EQ(c.record.slot, 1u);
        EXPECT_EQ(c.record.type, 0x20u);
        EXPECT_EQ(c.record.hash, 1u);
        EXPECT_EQ(c.record.digits, 6u);
        EXPECT_EQ(c.record.interval, 30u);
        EXPECT_EQ(std::string(c.record.serial), base64_encode(to_bytes(record)));
        EXPECT_TRUE(std::all_of(c.record.serial + 48, c.record.serial + 64,
                                [](char ch) { return ch == 0; }));
        EXPECT_EQ(0, std::memcmp(c.record.seed, "50827413", 8));
        EXPECT_TRUE(
            std::all_of(c.record.seed + 8, c.record.seed + 64, [](uint8_t ch) { return ch == 0; }));
        EXPECT_EQ(c.record.seedLength, 8u);

        auto read = read_pin_policy(device);
        ASSERT_TRUE(read);
        EXPECT_EQ(*read, record);
    }
}

TEST(PinPolicyOnKey, WriteFailures)
{
    const std::pair<uint32_t, Err> cases[] = {
        {VN_ERR_TOUCH_TIMEOUT, {1, "Token timed out"}},
        {VN_ERR_STORAGE, {0, "Failed to write PIN policy."}},
        {VN_ERR_NO_DEVICE, {0, "Failed to write PIN policy."}},
    };
    for (const auto& [status, expected] : cases) {
        VirtualKeyDevice key;
        ScriptedDevice device(key);
        device.failNext(DeviceCall::OtpPersonalize, status);
        auto written = write_pin_policy(device, sampleRecord());
        ASSERT_FALSE(written);
        EXPECT_EQ(written.error().code, expected.code);
        EXPECT_EQ(written.error().message, expected.message);
    }
}

TEST(PinPolicyOnKey, TouchTimeoutFromTheKeyItself)
{
    VirtualKeyDevice key;
    key.setTouchNever(50);
    auto written = write_pin_policy(key, sampleRecord());
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error().code, 1);
    EXPECT_EQ(written.error().message, "Token timed out");
}

TEST(PinPolicyOnKey, ReadersOnEveryStateOfTheRecord)
{
    const std::string notInitialised =
        "Failed to read PIN policy. Ask Admin to initialize the device.";
    PinPolicyRecord disabled = sampleRecord();
    disabled.enabled = 0;
    const std::string shortRecord = base64_encode(std::vector<uint8_t>(33, 1));
    const std::string longRecord = base64_encode(std::vector<uint8_t>(35, 1));

    struct Case
    {
        const char* what;
        std::optional<std::string> slot1; // nullopt: nothing written
        std::optional<PinPolicyRecord> read;
        PinPolicyRecord orZero;
    };
    const Case cases[] = {
        {"absent", std::nullopt, std::nullopt, {}},
        {"empty text", std::string(), std::nullopt, {}},
        {"not base64", "not base64 at all!", std::nullopt, {}},
        {"33 bytes", shortRecord, std::nullopt, {}},
        {"35 bytes", longRecord, std::nullopt, {}},
        {"switched off", base64_encode(to_bytes(disabled)), std::nullopt, disabled},
        {"in force", base64_encode(to_bytes(sampleRecord())), sampleRecord(), sampleRecord()},
    };
    for (const Case& c : cases) {
        VirtualKeyDevice device;
        if (c.slot1)
            storeSlot1Text(device, *c.slot1);
        auto read = read_pin_policy(device);
        if (c.read) {
            ASSERT_TRUE(read) << c.what;
            EXPECT_EQ(*read, *c.read) << c.what;
        } else {
            ASSERT_FALSE(read) << c.what;
            EXPECT_EQ(read.error().code, 0) << c.what;
            EXPECT_EQ(read.error().message, notInitialised) << c.what;
        }
        EXPECT_EQ(read_pin_policy_or_zero(device), c.orZero) << c.what;
    }
}

TEST(PinPolicyOnKey, DeviceFailureOnRead)
{
    VirtualKeyDevice key;
    storePolicy(key, sampleRecord());
    ScriptedDevice device(key);
    device.failAlways(DeviceCall::OtpList, VN_ERR_NO_DEVICE);
    auto read = read_pin_policy(device);
    ASSERT_FALSE(read);
    EXPECT_EQ(read.error().code, 0);
    EXPECT_EQ(read.error().message, "Failed to read PIN policy.");
    EXPECT_EQ(read_pin_policy_or_zero(device), PinPolicyRecord{});
    EXPECT_EQ(device.callsOf(DeviceCall::OtpList).front().slot, 1u);
}

TEST(ErrFromCode, StandardMessages)
{
    const std::pair<int32_t, std::string> cases[] = {
        {0, ""}, {1, "Token timed out."}, {2, "Token PIN incorrect."}, {3, ""}, {-1, ""}};
    for (const auto& [code, message] : cases) {
        const Err e = err_from_code(code);
        EXPECT_EQ(e.code, code);
        EXPECT_EQ(e.message, message);
    }
}

} // namespace
