#include "pin/PinAccess.h"
#include "PinTestSupport.h"
#include "support/ScriptedDevice.h"
#include "support/VirtualKeyDevice.h"

#include <gtest/gtest.h>

#include <ctime>
#include <functional>

namespace {

const std::string kPin = "Kq7#pw";
const std::string kOtherPin = "Zt4!mv";
const std::string kWrongPin = "Wr0ng#x";
const std::string kUtf8Pin = "P\xc3\xa4"
                             "55w\xc3\xb6rt"; // "Pä55wört"

bool isProbe(const RecordedCall& c)
{
    return c.call == DeviceCall::OtpChangeAccess && c.slot == VN_SLOT_ALL &&
           c.oldCode == "qmvr482" && c.access == "qmvr482";
}

TEST(HwModeProbe, OnlyNoHardwareAccessMeansSoftwareMode)
{
    for (uint32_t status : {VN_OK, VN_ERR_WRONG_ACCESS, VN_ERR_STORAGE, VN_ERR_NO_HW_ACCESS}) {
        VirtualKeyDevice key;
        ScriptedDevice device(key);
        device.failNext(DeviceCall::OtpChangeAccess, status);
        EXPECT_EQ(is_hwmaccess_supported(device), status != VN_ERR_NO_HW_ACCESS);
        ASSERT_EQ(device.calls().size(), 1u);
        EXPECT_TRUE(isProbe(device.calls()[0]));
    }
    VirtualKeyDevice softwareKey("VK2", false);
    EXPECT_FALSE(is_hwmaccess_supported(softwareKey));
}

// A key in hardware mode or software mode under an open policy, behind the
// scripting layer, optionally with a PIN already set.
struct Rig
{
    explicit Rig(bool hardware, const std::string& pin = {})
        : hardware(hardware), key("VK1000001", hardware)
    {
        storePolicy(key, openPolicy());
        if (!pin.empty() && !change_pin(key, pin, ""))
            throw std::runtime_error("could not set the PIN");
    }
    // Whether the key holds this PIN; the empty one: no PIN.
    bool holds(const std::string& pin)
    {
        if (hardware)
            return key.accessCode().value_or("") == pin;
        const auto digest = read_pin_policy_or_zero(key).pinDigest;
        return pin.empty() ? digest == decltype(digest){} : digest == pin_digest(pin);
    }

    bool hardware;
    VirtualKeyDevice key;
    ScriptedDevice device{key};
    LogCapture log;
};

class PinAccessTest : public ::testing::TestWithParam<bool>
{
};
INSTANTIATE_TEST_SUITE_P(Mode, PinAccessTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Hardware" : "Software"; });

TEST_P(PinAccessTest, SetVerifyAndChange)
{
    Rig rig(GetParam());
    EXPECT_EQ(is_access_empty(rig.device), true);
    const int64_t before = std::time(nullptr);
    ASSERT_TRUE(change_pin(rig.device, kPin, ""));
    EXPECT_TRUE(rig.holds(kPin));
    PinPolicyRecord stored = read_pin_policy_or_zero(rig.key);
    EXPECT_GE(stored.pinSetTime, before);
    EXPECT_LE(stored.pinSetTime, std::time(nullptr));
    stored.pinSetTime = 0;
    stored.pinDigest = {};
    EXPECT_EQ(stored, openPolicy()); // the rules are carried over

    EXPECT_EQ(is_access_empty(rig.device), false);
    EXPECT_EQ(verify_pin(rig.device, kPin), true);
    EXPECT_EQ(verify_pin(rig.device, kWrongPin), false);
    EXPECT_EQ(verify_pin(rig.device, ""), false);

    // A non-ASCII PIN goes to the key, or into MD5, as its UTF-8 bytes.
    ASSERT_TRUE(change_pin(rig.device, kUtf8Pin, kPin));
    EXPECT_TRUE(rig.holds(kUtf8Pin));
    if (!GetParam()) {
        EXPECT_EQ(hex(read_pin_policy_or_zero(rig.key).pinDigest),
                  "902a6f6776d88d6ac265321f2efb925c");
    }
    EXPECT_EQ(verify_pin(rig.device, "P\xe4"
                                     "55w\xf6rt"),
              false); // the same text in Latin-1

    // Every mode-dependent operation probes the mode first.
    for (const auto& run : std::initializer_list<std::function<void()>>{
             [&] { (void)is_access_empty(rig.device); },
             [&] { (void)verify_pin(rig.device, kPin); },
             [&] { (void)change_pin(rig.device, kOtherPin, kWrongPin); }}) {
        rig.device.clearCalls();
        run();
        EXPECT_TRUE(isProbe(rig.device.calls().at(0)));
    }
    EXPECT_EQ(rig.log.text().find(kPin), std::string::npos);
    EXPECT_EQ(rig.log.text().find(kUtf8Pin), std::string::npos);
}

TEST_P(PinAccessTest, FailedSetOrChangeLeavesThePinAsItWas)
{
    enum Modes { Both, Hardware, Software };
    const auto minLength7 = [](Rig& r) {
        PinPolicyRecord p = read_pin_policy_or_zero(r.key);
        p.minLength = 7;
        storePolicy(r.key, p);
    };
    const auto switchedOff = [](Rig& r) { storePolicy(r.key, PinPolicyRecord{}); };
    const auto short7 = failure(0, "The minimum PIN length allowed is 7");
    const auto uninitialised =
        failure(0, "Failed to read PIN policy. Ask Admin to initialize the device.");
    struct Case
    {
        const char* what;
        Modes modes;
        std::string pinOnKey;
        std::function<void(Rig&)> arrange;
        std::string newPin, oldPin;
        PinResult<void> expected;
        int hardwareWrites, softwareWrites; // of the record
        std::string log = {};
    };
    const Case cases[] = {
        {"wrong old PIN", Both, kPin, nullptr, kOtherPin, kWrongPin,
         failure(2, "Token PIN incorrect."), 1, 0},
        {"blank old PIN while one is set", Both, kPin, nullptr, kOtherPin, "",
         failure(0, "The device has a PIN already."), 0, 0},
        {"change breaks the policy", Both, kPin, minLength7, "Short1", kPin, short7, 0, 0},
        {"first PIN breaks the policy", Both, "", minLength7, "Short1", "", short7, 0, 0},
        {"policy switched off", Hardware, "", switchedOff, kPin, "", uninitialised, 0, 0},
        {"policy switched off", Software, "", switchedOff, kPin, "", uninitialised, 0, 0,
         "error [is_simaccess_empty] Failed to read pin policy.\n"},
        {"key not touched", Both, "", [](Rig& r) { r.key.setTouchNever(20); }, kPin, "",
         failure(1, "Token timed out"), 1, 1},
        {"HasAccess fails", Hardware, "",
         [](Rig& r) { r.device.failAlways(DeviceCall::OtpHasAccess, VN_ERR_STORAGE); }, kPin, "",
         failure(0, "Failed to check if OTP is protected by PIN."), 0, 0},
        {"SetAccess fails after the record was written", Hardware, "",
         [](Rig& r) { r.device.failNext(DeviceCall::OtpSetAccess, VN_ERR_TOUCH_TIMEOUT); }, kPin,
         "", failure(0, "Failed to set access."), 1, 0,
         "error [set_hwmaccess] Failed to set access. rv=2148166020\n"},
        {"ChangeAccess fails", Hardware, kPin,
         [](Rig& r) {
             r.device.failNext(DeviceCall::OtpChangeAccess, VN_OK); // the probe
             r.device.failNext(DeviceCall::OtpChangeAccess, VN_ERR_STORAGE);
         },
         kOtherPin, kPin, failure(0, "Failed to change PIN."), 1, 0},
    };
    for (const Case& c : cases) {
        if (c.modes != Both && (c.modes == Hardware) != GetParam())
            continue;
        SCOPED_TRACE(c.what);
        Rig rig(GetParam(), c.pinOnKey);
        if (c.arrange)
            c.arrange(rig);
        rig.device.clearCalls();
        rig.log.clear();
        EXPECT_EQ(change_pin(rig.device, c.newPin, c.oldPin), c.expected);
        EXPECT_EQ(rig.device.count(DeviceCall::OtpPersonalize),
                  GetParam() ? c.hardwareWrites : c.softwareWrites);
        EXPECT_TRUE(rig.holds(c.pinOnKey));
        EXPECT_EQ(rig.log.text(), c.log);
    }
}

// query_pin: the PIN that Get OTP, Remove and New Token hand to the key.
TEST_P(PinAccessTest, QueryAsksOnlyWhenAPinIsSetAndNothingIsCachedAndVerifiesTheEntry)
{
    Rig rig(GetParam());
    int prompts = 0;
    const auto typed = [&](std::string text) {
        return [&prompts, text] {
            ++prompts;
            return text;
        };
    };
    EXPECT_EQ(query_pin(rig.device, "", typed(kPin)), ""); // no PIN set: not asked
    ASSERT_TRUE(change_pin(rig.key, kPin, ""));
    EXPECT_EQ(query_pin(rig.device, "", typed(kPin)), kPin);
    EXPECT_EQ(prompts, 1);

    // A cached PIN goes back unverified, even a wrong one.
    rig.device.clearCalls();
    EXPECT_EQ(query_pin(rig.device, kWrongPin, typed(kPin)), kWrongPin);
    EXPECT_EQ(rig.device.count(DeviceCall::OtpChangeAccess), 1); // the probe only
    EXPECT_EQ(prompts, 1);

    // A wrong or dismissed (empty) entry is verified, and refused.
    for (const std::string& entry : {kWrongPin, std::string()})
        EXPECT_EQ(query_pin(rig.device, "", typed(entry)),
                  failure<std::string>(0, "PIN is incorrect."));
    EXPECT_EQ(prompts, 3);

    // The key fails while the user is typing.
    const auto failWhileTyping = [&] {
        if (GetParam())
            rig.device.failAlways(DeviceCall::OtpChangeAccess, VN_ERR_STORAGE);
        else
            rig.device.failAlways(DeviceCall::OtpList, VN_ERR_NO_DEVICE);
        return kPin;
    };
    EXPECT_EQ(query_pin(rig.device, "", failWhileTyping),
              failure<std::string>(
                  0, std::string("Failed to verify PIN. Error: ") +
                         (GetParam() ? "Failed to verify PIN." : "Failed to read PIN policy.")));
    EXPECT_EQ(rig.log.text().find(kPin), std::string::npos);
}

TEST_P(PinAccessTest, QueryWhenTheAccessStateIsUnknown)
{
    Rig rig(GetParam(), kPin);
    rig.log.clear();
    rig.device.failAlways(DeviceCall::OtpHasAccess, VN_ERR_STORAGE);
    rig.device.failAlways(DeviceCall::OtpList, VN_ERR_NO_DEVICE);
    const auto notAsked = [] {
        ADD_FAILURE() << "asked for the PIN";
        return std::string();
    };
    // Software mode: no readable record means no PIN; the cache goes back.
    EXPECT_EQ(query_pin(rig.device, kPin, notAsked),
              GetParam() ? failure<std::string>(0, "Failed to check if OTP is protected by PIN.")
                         : kPin);
    EXPECT_EQ(rig.log.text(), GetParam()
                                  ? "error [OnBnClickedGetOTP] Failed to query access empty.\n"
                                  : "error [is_simaccess_empty] Failed to read pin policy.\n");
}

} // namespace
