#include "pin/PinAccess.h"
#include "PinTestSupport.h"
#include "support/VirtualKeyDevice.h"

#include "KeyState.h"

#include <gtest/gtest.h>

#include <functional>

using namespace otp;
using namespace otp::core;
using namespace otp::device;
using namespace otp::pin;

namespace {

const std::string kPin = "Kq7#pw";
const std::string kOtherPin = "Zt4!mv";
const std::string kWrongPin = "Wr0ng#x";

// The key is asked once per session; a second answer would differ here.
TEST(HwModeProbe, OnlyNoHardwareAccessMeansSoftwareModeAskedOncePerSession)
{
    for (uint32_t status : {VN_OK, VN_ERR_WRONG_ACCESS, VN_ERR_NO_HW_ACCESS}) {
        VirtualKeyDevice key("VK1000001", status == VN_ERR_NO_HW_ACCESS);
        key.failNext(DeviceCall::OtpChangeAccess, status);
        KeySession session(key);
        EXPECT_EQ(session.is_hwmaccess_supported(), status != VN_ERR_NO_HW_ACCESS);
        EXPECT_EQ(session.is_hwmaccess_supported(), status != VN_ERR_NO_HW_ACCESS);
        EXPECT_EQ(key.count(DeviceCall::OtpChangeAccess), 1);
    }
}

// Software mode keeps the MD5 of the PIN on the key (RFC 1321's "abc").
TEST(PinDigest, IsMd5)
{
    EXPECT_EQ(pin_digest("abc"),
              (std::array<uint8_t, 16>{0x90, 0x01, 0x50, 0x98, 0x3c, 0xd2, 0x4f, 0xb0, 0xd6, 0x96,
                                       0x3f, 0x7d, 0x28, 0xe1, 0x7f, 0x72}));
}

// A key in either mode under an open policy, optionally with a PIN set.
struct Rig
{
    explicit Rig(bool hardware, const std::string& pin = {})
        : hardware(hardware), key("VK1000001", hardware)
    {
        storePolicy(key, openPolicy());
        if (!pin.empty() && !change_pin(Session(key), pin, ""))
            throw std::runtime_error("could not set the PIN");
    }
    bool holds(const std::string& pin) // the empty PIN: none set
    {
        if (hardware)
            return key.keyState().accessCode.value_or("") == pin;
        const auto digest = read_pin_policy_or_zero(Session(key)).pinDigest;
        return pin.empty() ? digest == decltype(digest){} : digest == pin_digest(pin);
    }
    bool hardware;
    VirtualKeyDevice key;
    KeySession session{key};
};

class PinAccessTest : public ::testing::TestWithParam<bool>
{
};
INSTANTIATE_TEST_SUITE_P(Mode, PinAccessTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Hardware" : "Software"; });

// The PIN is asked only when one is set and none is cached; a typed one is verified.
TEST_P(PinAccessTest, SetVerifyQueryAndChange)
{
    Rig rig(GetParam());
    int prompts = 0;
    std::string entry = kPin;
    const auto typed = [&]() -> OpResult<std::string> { return ++prompts, entry; };
    EXPECT_EQ(is_access_empty(rig.session), true);
    EXPECT_EQ(query_pin(rig.session, "", typed), ""); // no PIN set: not asked
    ASSERT_TRUE(change_pin(rig.session, kPin, ""));
    EXPECT_EQ(is_access_empty(rig.session), false);
    EXPECT_EQ(verify_pin(rig.session, kPin), true);
    EXPECT_EQ(verify_pin(rig.session, kWrongPin), false);
    EXPECT_EQ(query_pin(rig.session, "", typed), kPin);
    EXPECT_EQ(query_pin(rig.session, kWrongPin, typed), kWrongPin); // cache: unverified
    EXPECT_EQ(prompts, 1);
    entry = kWrongPin;
    EXPECT_EQ(query_pin(rig.session, "", typed),
              failure<std::string>(Fault::Pin, "PIN is incorrect."));
    EXPECT_EQ(prompts, 2);
    PinPolicyRecord stored = read_pin_policy_or_zero(Session(rig.key));
    EXPECT_GT(stored.pinSetTime, 0);
    stored.pinSetTime = 0;
    stored.pinDigest = {};
    EXPECT_EQ(stored, openPolicy()); // the rules are carried over

    const std::string utf8 = "P\xc3\xa4"
                             "55w\xc3\xb6rt"; // "Pä55wört"
    ASSERT_TRUE(change_pin(rig.session, utf8, kPin));
    EXPECT_EQ(verify_pin(rig.session, utf8), true);
    EXPECT_EQ(verify_pin(rig.session, "P\xe4"
                                      "55w\xf6rt"),
              false); // the same text in Latin-1
}

TEST_P(PinAccessTest, FailedSetOrChangeLeavesThePinAsItWas)
{
    enum Modes { Both, Hardware, Software };
    const auto minLength7 = [](Rig& r) {
        PinPolicyRecord p = read_pin_policy_or_zero(Session(r.key));
        p.minLength = 7;
        storePolicy(r.key, p);
    };
    const auto short7 = failure(Fault::Refused, "The minimum PIN length allowed is 7");
    struct Case
    {
        const char* what;
        Modes modes;
        std::string pinOnKey;
        std::function<void(Rig&)> arrange;
        std::string newPin, oldPin;
        OpResult<void> expected;
    };
    const Case cases[] = {
        {"wrong old PIN", Both, kPin, nullptr, kOtherPin, kWrongPin,
         failure(Fault::Pin, "Token PIN incorrect.", GetParam() ? VN_ERR_WRONG_ACCESS : 0)},
        {"blank old PIN", Both, kPin, nullptr, kOtherPin, "",
         failure(Fault::Refused, "The device has a PIN already.")},
        {"change breaks the policy", Both, kPin, minLength7, "Short1", kPin, short7},
        {"first PIN breaks the policy", Both, "", minLength7, "Short1", "", short7},
        {"policy switched off", Both, "", [](Rig& r) { storePolicy(r.key, {}); }, kPin, "",
         failure(Fault::Refused, "Failed to read PIN policy. Ask Admin to initialize the device.")},
        {"key not touched", Both, "", [](Rig& r) { r.key.setTouchNever(20); }, kPin, "",
         failure(Fault::TimedOut, "Token timed out", VN_ERR_TOUCH_TIMEOUT)},
        {"record write before the code change times out", Hardware, kPin,
         [](Rig& r) { r.key.failNext(DeviceCall::OtpPersonalize, VN_ERR_TOUCH_TIMEOUT); },
         kOtherPin, kPin, failure(Fault::TimedOut, "Token timed out", VN_ERR_TOUCH_TIMEOUT)},
        {"HasAccess fails", Hardware, "",
         [](Rig& r) { r.key.failNext(DeviceCall::OtpHasAccess, VN_ERR_STORAGE); }, kPin, "",
         failure(Fault::Device, "Failed to check if OTP is protected by PIN.", VN_ERR_STORAGE)},
        {"SetAccess fails", Hardware, "",
         [](Rig& r) { r.key.failNext(DeviceCall::OtpSetAccess, VN_ERR_TOUCH_TIMEOUT); }, kPin, "",
         failure(Fault::TimedOut, "Failed to set access.", VN_ERR_TOUCH_TIMEOUT)},
        {"ChangeAccess fails", Hardware, kPin,
         [](Rig& r) {
             r.key.failNext(DeviceCall::OtpChangeAccess, VN_OK); // the probe
             r.key.failNext(DeviceCall::OtpChangeAccess, VN_ERR_STORAGE);
         },
         kOtherPin, kPin, failure(Fault::Device, "Failed to change PIN.", VN_ERR_STORAGE)},
        {"record write fails", Software, "",
         [](Rig& r) { r.key.failNext(DeviceCall::OtpPersonalize, VN_ERR_STORAGE); }, kPin, "",
         failure(Fault::Device, "Failed to write PIN policy.", VN_ERR_STORAGE)},
    };
    for (const Case& c : cases) {
        if (c.modes != Both && (c.modes == Hardware) != GetParam())
            continue;
        SCOPED_TRACE(c.what);
        Rig rig(GetParam(), c.pinOnKey);
        if (c.arrange)
            c.arrange(rig);
        EXPECT_EQ(change_pin(rig.session, c.newPin, c.oldPin), c.expected);
        EXPECT_TRUE(rig.holds(c.pinOnKey));
    }
}

} // namespace
