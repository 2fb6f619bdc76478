#include "pin/PinAccess.h"
#include "KeySetup.h"
#include "LogCapture.h"
#include "support/ScriptedDevice.h"
#include "support/VirtualKeyDevice.h"

#include <gtest/gtest.h>

#include <ctime>

namespace {

const std::string kPin = "Kq7#pw";
const std::string kOtherPin = "Zt4!mv";
const std::string kWrongPin = "Wr0ng#x";
const std::string kUtf8Pin = "P\xc3\xa4"
                             "55w\xc3\xb6rt"; // "Pä55wört"

std::string hex(std::span<const uint8_t> bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

void expectErr(const Err& e, int32_t code, const std::string& message)
{
    EXPECT_EQ(e.code, code);
    EXPECT_EQ(e.message, message);
}

bool isProbe(const RecordedCall& c)
{
    return c.call == DeviceCall::OtpChangeAccess && c.slot == VN_SLOT_ALL &&
           c.oldCode == "qmvr482" && c.access == "qmvr482";
}

TEST(HwModeProbe, OnlyNoHardwareAccessMeansSoftwareMode)
{
    const std::pair<uint32_t, bool> cases[] = {
        {VN_OK, true},
        {VN_ERR_WRONG_ACCESS, true},
        {VN_ERR_STORAGE, true},
        {VN_ERR_NO_DEVICE, true},
        {VN_ERR_TOUCH_TIMEOUT, true},
        {VN_ERR_NO_HW_ACCESS, false},
    };
    for (const auto& [status, hardware] : cases) {
        VirtualKeyDevice key;
        ScriptedDevice device(key);
        device.failNext(DeviceCall::OtpChangeAccess, status);
        EXPECT_EQ(is_hwmaccess_supported(device), hardware) << std::hex << status;
        ASSERT_EQ(device.calls().size(), 1u);
        EXPECT_TRUE(isProbe(device.calls()[0]));
    }
    VirtualKeyDevice hardwareKey("VK1", true), softwareKey("VK2", false);
    EXPECT_TRUE(is_hwmaccess_supported(hardwareKey));
    EXPECT_FALSE(is_hwmaccess_supported(softwareKey));
}

TEST(PinDigest, Md5OfTheBytesUpToTheFirstNul)
{
    const std::pair<std::string, std::string> cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {std::string("abc\0def", 7), "900150983cd24fb0d6963f7d28e17f72"},
        {kUtf8Pin, "902a6f6776d88d6ac265321f2efb925c"},
    };
    for (const auto& [pin, digest] : cases)
        EXPECT_EQ(hex(pin_digest(pin)), digest);
}

// Every test runs on a key in hardware mode (true) and one in software mode.
class PinAccessTest : public ::testing::TestWithParam<bool>
{
protected:
    bool hardware() const { return GetParam(); }

    void TearDown() override
    {
        for (const std::string& pin : {kPin, kOtherPin, kWrongPin, kUtf8Pin})
            EXPECT_EQ(log.text().find(pin), std::string::npos) << "a PIN reached the log";
    }

    // A policy in force and, when pin is not empty, that PIN set.
    void prepare(const std::string& pin, const PinPolicyRecord& policy = openPolicy())
    {
        storePolicy(key, policy);
        if (!pin.empty()) {
            ASSERT_TRUE(change_pin(key, pin, ""));
        }
        device.clearCalls();
        log.clear();
    }

    bool keyHolds(const std::string& pin)
    {
        if (hardware())
            return key.accessCode() == pin;
        return storedPolicy(key).pinDigest == pin_digest(pin);
    }

    bool keyHoldsNoPin()
    {
        if (hardware())
            return !key.accessCode().has_value();
        return storedPolicy(key).pinDigest == decltype(PinPolicyRecord::pinDigest){};
    }

    VirtualKeyDevice key{"VK1000001", GetParam()};
    ScriptedDevice device{key};
    LogCapture log;
};

INSTANTIATE_TEST_SUITE_P(BothModes, PinAccessTest, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Hardware" : "Software"; });

TEST_P(PinAccessTest, SetVerifyAndChange)
{
    PinPolicyRecord policy = openPolicy();
    policy.minLength = 4;
    policy.expiryDays = 90;
    prepare("", policy);

    ASSERT_EQ(is_access_empty(device), PinResult<bool>(true));
    const int64_t before = std::time(nullptr);
    ASSERT_TRUE(change_pin(device, kPin, ""));
    const int64_t after = std::time(nullptr);
    EXPECT_TRUE(keyHolds(kPin));
    const PinPolicyRecord stored = storedPolicy(key);
    EXPECT_GE(stored.pinSetTime, before);
    EXPECT_LE(stored.pinSetTime, after);
    // The operations own only the PIN state; the rules come back unchanged.
    PinPolicyRecord rulesOnly = stored;
    rulesOnly.pinDigest = policy.pinDigest;
    rulesOnly.pinSetTime = policy.pinSetTime;
    EXPECT_EQ(rulesOnly, policy);

    EXPECT_EQ(is_access_empty(device), PinResult<bool>(false));
    EXPECT_EQ(verify_pin(device, kPin), PinResult<bool>(true));
    EXPECT_EQ(verify_pin(device, kWrongPin), PinResult<bool>(false));
    EXPECT_EQ(verify_pin(device, ""), PinResult<bool>(false));

    ASSERT_TRUE(change_pin(device, kOtherPin, kPin));
    EXPECT_TRUE(keyHolds(kOtherPin));
    EXPECT_EQ(verify_pin(device, kPin), PinResult<bool>(false));

    auto again = change_pin(device, kPin, "");
    ASSERT_FALSE(again);
    expectErr(again.error(), 0, "The device has a PIN already.");
    EXPECT_TRUE(keyHolds(kOtherPin));
}

TEST_P(PinAccessTest, ModeIsProbedFirstByTheModeDependentOperations)
{
    prepare(kPin);
    const std::pair<const char*, std::function<void()>> operations[] = {
        {"is_access_empty", [&] { (void)is_access_empty(device); }},
        {"verify_pin", [&] { (void)verify_pin(device, kPin); }},
        {"change_pin", [&] { (void)change_pin(device, kOtherPin, kPin); }},
    };
    for (const auto& [name, run] : operations) {
        device.clearCalls();
        run();
        ASSERT_FALSE(device.calls().empty()) << name;
        EXPECT_TRUE(isProbe(device.calls()[0])) << name;
    }
}

TEST_P(PinAccessTest, WrongOldPin)
{
    prepare(kPin);
    PinPolicyRecord old = storedPolicy(key);
    old.pinSetTime = 12345;
    storePolicy(key, old);
    device.clearCalls();

    auto changed = change_pin(device, kOtherPin, kWrongPin);
    ASSERT_FALSE(changed);
    expectErr(changed.error(), 2, "Token PIN incorrect.");
    EXPECT_TRUE(keyHolds(kPin));
    if (hardware()) {
        // The key judges the old PIN only after the record went out.
        EXPECT_EQ(device.count(DeviceCall::OtpPersonalize), 1);
        EXPECT_GT(storedPolicy(key).pinSetTime, 12345);
    } else {
        EXPECT_EQ(device.count(DeviceCall::OtpPersonalize), 0);
        EXPECT_EQ(storedPolicy(key), old);
    }
}

TEST_P(PinAccessTest, ComplexityIsCheckedAgainstTheRecordOnTheKey)
{
    PinPolicyRecord policy = openPolicy();
    policy.minLength = 7;
    for (const std::string& oldPin : {std::string(), kPin}) {
        prepare(oldPin);
        policy.pinDigest = storedPolicy(key).pinDigest; // keeps the PIN in software mode
        storePolicy(key, policy);
        device.clearCalls();

        auto changed = change_pin(device, "Short1", oldPin);
        ASSERT_FALSE(changed);
        expectErr(changed.error(), 0, "The minimum PIN length allowed is 7");
        EXPECT_EQ(device.count(DeviceCall::OtpPersonalize), 0);
        EXPECT_EQ(device.count(DeviceCall::OtpSetAccess), 0);
        EXPECT_EQ(device.count(DeviceCall::OtpChangeAccess), 1); // the probe only
    }
}

TEST_P(PinAccessTest, NoPolicyOnTheKey)
{
    auto changed = change_pin(device, kPin, "");
    ASSERT_FALSE(changed);
    expectErr(changed.error(), 0, "Failed to read PIN policy. Ask Admin to initialize the device.");
    EXPECT_EQ(device.count(DeviceCall::OtpPersonalize), 0);
    EXPECT_TRUE(keyHoldsNoPin());
    EXPECT_FALSE(is_pin_policy_enabled(device));

    // Without a record software mode sees no PIN and says so in the log.
    log.clear();
    EXPECT_EQ(is_access_empty(device), PinResult<bool>(true));
    EXPECT_EQ(log.text().find("error [is_simaccess_empty] Failed to read pin policy.\n") !=
                  std::string::npos,
              !hardware());
}

TEST_P(PinAccessTest, TouchTimeoutOnTheRecordWrite)
{
    prepare("");
    key.setTouchNever(50);
    auto changed = change_pin(device, kPin, "");
    ASSERT_FALSE(changed);
    expectErr(changed.error(), 1, "Token timed out");
    EXPECT_EQ(device.count(DeviceCall::OtpSetAccess), 0);
    EXPECT_TRUE(keyHoldsNoPin());
}

TEST_P(PinAccessTest, NonAsciiPinTravelsAsUtf8)
{
    prepare(kUtf8Pin);
    if (hardware())
        EXPECT_EQ(key.accessCode(), kUtf8Pin);
    else
        EXPECT_EQ(hex(storedPolicy(key).pinDigest), "902a6f6776d88d6ac265321f2efb925c");
    EXPECT_EQ(verify_pin(device, kUtf8Pin), PinResult<bool>(true));
    EXPECT_EQ(verify_pin(device, "P\xe4"
                                 "55w\xf6rt"),
              PinResult<bool>(false)); // the same text in Latin-1
}

TEST_P(PinAccessTest, PolicyEnabledOnlyWhenARecordIsInForce)
{
    EXPECT_FALSE(is_pin_policy_enabled(device));
    PinPolicyRecord off = openPolicy();
    off.enabled = 0;
    storePolicy(key, off);
    EXPECT_FALSE(is_pin_policy_enabled(device));
    storePolicy(key, openPolicy());
    EXPECT_TRUE(is_pin_policy_enabled(device));
    device.failNext(DeviceCall::OtpList, VN_ERR_NO_DEVICE);
    EXPECT_FALSE(is_pin_policy_enabled(device));
}

// Hardware mode only: the calls that software mode never makes.
using HardwareAccessTest = PinAccessTest;
INSTANTIATE_TEST_SUITE_P(HardwareOnly, HardwareAccessTest, ::testing::Values(true),
                         [](const auto&) { return "Hardware"; });

TEST_P(HardwareAccessTest, HasAccessFailing)
{
    prepare("");
    device.failAlways(DeviceCall::OtpHasAccess, VN_ERR_STORAGE);
    auto empty = is_access_empty(device);
    ASSERT_FALSE(empty);
    expectErr(empty.error(), 0, "Failed to check if OTP is protected by PIN.");
    auto changed = change_pin(device, kPin, "");
    ASSERT_FALSE(changed);
    expectErr(changed.error(), 0, "Failed to check if OTP is protected by PIN.");
    EXPECT_EQ(device.count(DeviceCall::OtpPersonalize), 0);
}

TEST_P(HardwareAccessTest, SetAccessFailingAfterTheRecordWasWritten)
{
    prepare("");
    device.failNext(DeviceCall::OtpSetAccess, VN_ERR_TOUCH_TIMEOUT);
    const int64_t before = std::time(nullptr);
    auto changed = change_pin(device, kPin, "");
    ASSERT_FALSE(changed);
    expectErr(changed.error(), 0, "Failed to set access.");
    EXPECT_GE(storedPolicy(key).pinSetTime, before); // not undone
    EXPECT_FALSE(key.accessCode().has_value());
    EXPECT_EQ(log.text(), "error [set_hwmaccess] Failed to set access. rv=2148166020\n");
}

TEST_P(HardwareAccessTest, AccessCodeCallsFailingOtherThanForAWrongPin)
{
    prepare(kPin);
    // The probe takes the first scripted status (and still means hardware
    // mode); the second goes to the call that checks or changes the code.
    device.failNext(DeviceCall::OtpChangeAccess, VN_ERR_STORAGE);
    device.failNext(DeviceCall::OtpChangeAccess, VN_ERR_STORAGE);
    auto verified = verify_pin(device, kPin);
    ASSERT_FALSE(verified);
    expectErr(verified.error(), 0, "Failed to verify PIN.");

    device.failNext(DeviceCall::OtpChangeAccess, VN_OK);
    device.failNext(DeviceCall::OtpChangeAccess, VN_ERR_STORAGE);
    auto changed = change_pin(device, kOtherPin, kPin);
    ASSERT_FALSE(changed);
    expectErr(changed.error(), 0, "Failed to change PIN.");
    EXPECT_TRUE(keyHolds(kPin));
}

TEST_P(HardwareAccessTest, SetAccessRefusedWhenTheKeyHasACode)
{
    prepare(kPin);
    auto set = set_hwmaccess(device, kOtherPin);
    ASSERT_FALSE(set);
    expectErr(set.error(), 0, "The device has a PIN already.");
    EXPECT_EQ(device.count(DeviceCall::OtpPersonalize), 0);
}

// query_pin: the PIN that Get OTP, Remove and New Token hand to the key.
class QueryPinTest : public PinAccessTest
{
protected:
    PinResult<std::string> query(const std::string& cached, std::string typed)
    {
        return query_pin(device, cached, [&, typed] {
            ++prompts;
            if (duringPrompt)
                duringPrompt();
            return typed;
        });
    }

    int prompts = 0;
    std::function<void()> duringPrompt;
};
INSTANTIATE_TEST_SUITE_P(BothModes, QueryPinTest, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Hardware" : "Software"; });

TEST_P(QueryPinTest, NoPinSetNeverAsks)
{
    prepare("");
    EXPECT_EQ(query("", kPin), PinResult<std::string>(""));
    EXPECT_EQ(query("stale", kPin), PinResult<std::string>("stale"));
    EXPECT_EQ(prompts, 0);
}

TEST_P(QueryPinTest, AsksOnceThenUsesTheCache)
{
    prepare(kPin);
    std::string cachedPin; // as the main window keeps it
    for (int i = 0; i < 3; ++i) {
        auto pin = query(cachedPin, kPin);
        ASSERT_TRUE(pin);
        cachedPin = *pin;
    }
    EXPECT_EQ(cachedPin, kPin);
    EXPECT_EQ(prompts, 1);

    // A cached PIN goes back unverified, even a wrong one.
    device.clearCalls();
    EXPECT_EQ(query(kWrongPin, kPin), PinResult<std::string>(kWrongPin));
    EXPECT_EQ(prompts, 1);
    if (hardware()) {
        EXPECT_EQ(device.count(DeviceCall::OtpChangeAccess), 1); // the probe only
    }

    // Once the cache is emptied (Update PIN does that), it asks again.
    cachedPin.clear();
    EXPECT_EQ(query(cachedPin, kPin), PinResult<std::string>(kPin));
    EXPECT_EQ(prompts, 2);
}

TEST_P(QueryPinTest, TypedPinIsVerified)
{
    prepare(kPin);
    auto wrong = query("", kWrongPin);
    ASSERT_FALSE(wrong);
    expectErr(wrong.error(), 0, "PIN is incorrect.");

    // A dismissed prompt is verified like any other PIN.
    device.clearCalls();
    auto dismissed = query("", "");
    ASSERT_FALSE(dismissed);
    expectErr(dismissed.error(), 0, "PIN is incorrect.");
    if (hardware()) {
        const auto calls = device.callsOf(DeviceCall::OtpChangeAccess);
        ASSERT_EQ(calls.size(), 3u); // probe, probe, verify
        EXPECT_EQ(calls[2].oldCode, "");
        EXPECT_EQ(calls[2].access, "");
    }
    EXPECT_EQ(prompts, 2);
}

TEST_P(QueryPinTest, VerifyFailing)
{
    prepare(kPin);
    // The failure starts while the user is typing.
    duringPrompt = [&] {
        if (hardware())
            device.failAlways(DeviceCall::OtpChangeAccess, VN_ERR_STORAGE);
        else
            device.failAlways(DeviceCall::OtpList, VN_ERR_NO_DEVICE);
    };
    auto pin = query("", kPin);
    ASSERT_FALSE(pin);
    expectErr(pin.error(), 0,
              hardware() ? "Failed to verify PIN. Error: Failed to verify PIN."
                         : "Failed to verify PIN. Error: Failed to read PIN policy.");
}

TEST_P(QueryPinTest, AccessStateUnknown)
{
    prepare(kPin);
    if (hardware()) {
        device.failAlways(DeviceCall::OtpHasAccess, VN_ERR_STORAGE);
        auto pin = query(kPin, kPin);
        ASSERT_FALSE(pin);
        expectErr(pin.error(), 0, "Failed to check if OTP is protected by PIN.");
        EXPECT_EQ(log.text(), "error [OnBnClickedGetOTP] Failed to query access empty.\n");
    } else {
        // An unreadable record means "no PIN": the cached text goes back
        // without asking.
        device.failAlways(DeviceCall::OtpList, VN_ERR_NO_DEVICE);
        EXPECT_EQ(query("", kPin), PinResult<std::string>(""));
    }
    EXPECT_EQ(prompts, 0);
}

} // namespace
