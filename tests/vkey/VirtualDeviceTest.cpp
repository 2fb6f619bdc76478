// The eleven calls against the virtual key through the in-process binding:
// the status each call answers, and what it leaves on the key.

#include "TestRecords.h"
#include "support/VirtualKeyDevice.h"

#include "VirtualDevice.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <span>
#include <thread>

using namespace testrec;
namespace fs = std::filesystem;

namespace {

using Call = std::function<uint32_t(VirtualKeyDevice&)>;

// Result buffers of the calls that fill one in.
DeviceInfoRecord gInfo;
OtpTokenRecord gRecords[VN_MAX_TOKENS];
uint8_t gHas;

uint32_t len(std::string_view s)
{
    return static_cast<uint32_t>(s.size());
}

// The calls with their arguments, to be made on a key: Personalize(r)(key).
Call Personalize(OtpTokenRecord r, std::string access = {})
{
    return [=](auto& d) { return d.OtpPersonalize(r, access.data(), len(access), 1); };
}

Call Calculate(OtpTokenRecord r, std::string access = {}, std::string challenge = {})
{
    return [=](auto& d) {
        char otp[VN_OTP_BUFFER_SIZE];
        return d.OtpCalculate(r, challenge.data(), len(challenge), otp, nullptr, access.data(),
                              len(access));
    };
}

Call Delete(OtpTokenRecord r, std::string access = {})
{
    return [=](auto& d) { return d.OtpDelete(r, access.data(), len(access)); };
}

Call SetAccess(std::string code)
{
    return [=](auto& d) { return d.OtpSetAccess(VN_SLOT_ALL, code.data(), len(code)); };
}

Call ChangeAccess(std::string oldCode, std::string newCode)
{
    return [=](auto& d) {
        return d.OtpChangeAccess(VN_SLOT_ALL, oldCode.data(), len(oldCode), newCode.data(),
                                 len(newCode));
    };
}

uint8_t hasAccess(DeviceApi& d)
{
    gHas = 9;
    EXPECT_EQ(d.OtpHasAccess(VN_SLOT_ALL, &gHas), VN_OK);
    return gHas;
}

OtpTokenRecord with(void (*edit)(OtpTokenRecord&))
{
    OtpTokenRecord r = token("VK100000109");
    edit(r);
    return r;
}

std::string keyFileText(const VirtualKeyDevice& d)
{
    return slurp(fs::path(d.keyDir()) / "VK1000001.json");
}

const OtpTokenRecord kHotp = token("VK100000101");
const OtpTokenRecord kTotp = token("VK100000102", VN_TYPE_TOTP, VN_HASH_SHA256, 8, 60);

// One call of each kind; the first four wait for a touch.
const std::pair<const char*, Call> kEveryCall[] = {
    {"OtpPersonalize", Personalize(token("X1"))},
    {"OtpCalculate", Calculate(kHotp)},
    {"OtpDelete", Delete(kHotp)},
    {"OtpReset", [](auto& d) { return d.OtpReset(); }},
    {"ListDevice", [](auto& d) { return d.ListDevice(nullptr, 0); }},
    {"GetDeviceInfo", [](auto& d) { return d.GetDeviceInfo(&gInfo); }},
    {"OtpList", [](auto& d) { return d.OtpList(VN_SLOT_ALL, gRecords); }},
    {"OtpSetValueWithEnter", [](auto& d) { return d.OtpSetValueWithEnter(1); }},
    {"OtpHasAccess", [](auto& d) { return d.OtpHasAccess(VN_SLOT_ALL, &gHas); }},
    {"OtpSetAccess", SetAccess("1234")},
    {"OtpChangeAccess", ChangeAccess("1234", "1234")},
};

// Soft: a key without the access-code function. Tokens: kHotp and kTotp on
// the key; Code: also the access code "1234"; Full: 20 tokens.
enum Given { Soft, Fresh, Tokens, Code, Full };

void prepare(VirtualKeyDevice& d, Given given)
{
    if (given == Tokens || given == Code) {
        ASSERT_EQ(Personalize(kHotp)(d), VN_OK);
        ASSERT_EQ(Personalize(kTotp)(d), VN_OK);
    }
    if (given == Code) {
        ASSERT_EQ(SetAccess("1234")(d), VN_OK);
    }
    for (int i = 0; given == Full && i < VN_MAX_TOKENS; ++i)
        ASSERT_EQ(Personalize(token("T" + std::to_string(i)))(d), VN_OK);
}

} // namespace

TEST(VirtualKeyStatuses, EachCallAnswersItsStatusAndARefusalChangesNothing)
{
    constexpr uint32_t kBadArg = VN_ERR_INVALID_ARGUMENT, kBadToken = VN_ERR_INVALID_TOKEN;
    struct Case
    {
        const char* name;
        Given given;
        Call call;
        uint32_t expected;
    };
    const Case cases[] = {
        // Personalize
        {"serial on the key", Tokens, Personalize(token("VK100000101", VN_TYPE_TOTP)),
         VN_ERR_DUPLICATE_SERIAL},
        {"21st token", Full, Personalize(token("T20")), VN_ERR_KEY_FULL},
        {"static password", Fresh,
         Personalize(with([](auto& r) { r.type = VN_TYPE_STATIC_PASSWORD; })), kBadToken},
        {"unknown hash", Fresh, Personalize(with([](auto& r) { r.hash = 3; })), kBadToken},
        {"7 digits", Fresh, Personalize(with([](auto& r) { r.digits = 7; })), kBadToken},
        {"interval 45", Fresh, Personalize(with([](auto& r) { r.interval = 45; })), kBadToken},
        {"empty serial", Fresh, Personalize(with([](auto& r) { r.serial[0] = 0; })), kBadToken},
        {"serial without NUL", Fresh,
         Personalize(with([](auto& r) { std::memset(r.serial, 'A', 64); })), kBadToken},
        {"16-byte seed", Fresh, Personalize(with([](auto& r) { r.seedLength = 16; })), kBadToken},
        {"seed past its field", Fresh, Personalize(with([](auto& r) { r.seedLength = 65; })),
         kBadToken},
        {"slot 0", Fresh, Personalize(with([](auto& r) { r.slot = 0; })), kBadArg},
        {"null access, length 4", Fresh,
         [](auto& d) { return d.OtpPersonalize(kHotp, nullptr, 4, 1); }, kBadArg},
        {"code set, none given", Code, Personalize(token("NEW")), VN_ERR_WRONG_ACCESS},
        {"code set, a prefix", Code, Personalize(token("NEW"), "123"), VN_ERR_WRONG_ACCESS},
        {"code set, longer text", Code, Personalize(token("NEW"), "12345"), VN_ERR_WRONG_ACCESS},
        {"code set, right code", Code, Personalize(token("NEW"), "1234"), VN_OK},
        {"no code set: access ignored", Fresh, Personalize(kHotp, "anything"), VN_OK},
        {"software key: access ignored", Soft, Personalize(kHotp, "anything"), VN_OK},
        {"slot 1 needs no code", Code, Personalize(pinToken("AAAA")), VN_OK},
        // Calculate
        {"unknown token", Tokens, Calculate(token("NOPE")), VN_ERR_TOKEN_NOT_FOUND},
        {"calculate, wrong code", Code, Calculate(kHotp, "4321"), VN_ERR_WRONG_ACCESS},
        {"calculate, right code", Code, Calculate(kHotp, "1234"), VN_OK},
        {"no OTP buffer", Tokens,
         [](auto& d) { return d.OtpCalculate(kHotp, nullptr, 0, nullptr, nullptr, nullptr, 0); },
         kBadArg},
        {"TOTP, 30 February", Tokens, Calculate(kTotp, "", "2024-02-30 10:00:00"), kBadArg},
        {"TOTP, length 20 with the NUL", Tokens,
         Calculate(kTotp, "", std::string("2024-05-01 13:07:55", 20)), kBadArg},
        {"HOTP ignores the challenge", Tokens, Calculate(kHotp, "", "whatever"), VN_OK},
        // Delete
        {"delete unknown token", Tokens, Delete(token("NOPE")), VN_ERR_TOKEN_NOT_FOUND},
        {"delete from slot 1", Tokens, Delete(pinToken("VK100000101")), kBadArg},
        {"delete, wrong code", Code, Delete(kHotp, "12"), VN_ERR_WRONG_ACCESS},
        {"delete, right code", Code, Delete(kHotp, "1234"), VN_OK},
        // Access codes
        {"second access code", Code, SetAccess("5678"), VN_ERR_ACCESS_ALREADY_SET},
        {"access code, software key", Soft, SetAccess("1234"), VN_ERR_NO_HW_ACCESS},
        {"empty access code", Fresh, SetAccess(""), kBadArg},
        {"65-byte access code", Fresh, SetAccess(std::string(65, 'x')), kBadArg},
        {"access code for slot 1", Fresh,
         [](auto& d) { return d.OtpSetAccess(VN_SLOT_PIN_RECORD, "1234", 4); }, kBadArg},
        {"probe, software key", Soft, ChangeAccess("qmvr482", "qmvr482"), VN_ERR_NO_HW_ACCESS},
        {"probe, no code set", Fresh, ChangeAccess("qmvr482", "qmvr482"), VN_ERR_WRONG_ACCESS},
        {"probe, code set", Code, ChangeAccess("qmvr482", "qmvr482"), VN_ERR_WRONG_ACCESS},
        {"verify: old equals new", Code, ChangeAccess("1234", "1234"), VN_OK},
        {"change to an empty code", Code, ChangeAccess("1234", ""), kBadArg},
        {"has-access for slot 1", Fresh,
         [](auto& d) { return d.OtpHasAccess(VN_SLOT_PIN_RECORD, &gHas); }, kBadArg},
        {"has-access, no result", Fresh,
         [](auto& d) { return d.OtpHasAccess(VN_SLOT_ALL, nullptr); }, kBadArg},
        // The rest
        {"ENTER flag 2", Fresh, [](auto& d) { return d.OtpSetValueWithEnter(2); }, kBadArg},
        {"list slot 2", Fresh, [](auto& d) { return d.OtpList(2, gRecords); }, kBadArg},
        {"list, no buffer", Fresh, [](auto& d) { return d.OtpList(VN_SLOT_ALL, nullptr); },
         kBadArg},
        {"device info, no buffer", Fresh, [](auto& d) { return d.GetDeviceInfo(nullptr); },
         kBadArg},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VirtualKeyDevice d("VK1000001", c.given != Soft);
        prepare(d, c.given);
        const std::string before = keyFileText(d);
        EXPECT_EQ(c.call(d), c.expected);
        EXPECT_TRUE(c.expected == VN_OK || keyFileText(d) == before) << "a refusal changed the key";
    }
}

TEST(VirtualKeyTokens, ListingKeepsProgrammingOrderButNeverSeedsExceptSlotOne)
{
    VirtualKeyDevice d;
    for (const char* serial : {"C", "A", "B"})
        ASSERT_EQ(Personalize(token(serial))(d), VN_OK);
    ASSERT_EQ(Delete(token("A"))(d), VN_OK);
    ASSERT_EQ(Personalize(kTotp)(d), VN_OK);
    std::memset(gRecords, 0xAA, sizeof gRecords);
    ASSERT_EQ(d.OtpList(VN_SLOT_ALL, gRecords), VN_OK);
    // As programmed, with seed and seed length zero; then zeroed records.
    OtpTokenRecord expected[VN_MAX_TOKENS] = {token("C"), token("B"), kTotp};
    for (int i = 0; i < 3; ++i) {
        std::memset(expected[i].seed, 0, sizeof expected[i].seed);
        expected[i].seedLength = 0;
    }
    for (int i = 0; i < VN_MAX_TOKENS; ++i)
        EXPECT_EQ(std::memcmp(&gRecords[i], &expected[i], sizeof expected[i]), 0) << i;

    // Slot 1: a zeroed record while none is written, then the last one whole.
    ASSERT_EQ(d.OtpList(VN_SLOT_PIN_RECORD, gRecords), VN_OK);
    EXPECT_EQ(std::memcmp(gRecords, &expected[3], sizeof expected[3]), 0);
    ASSERT_EQ(Personalize(pinToken(std::string(48, 'Q')))(d), VN_OK);
    const OtpTokenRecord pin = pinToken(std::string(48, 'R'));
    ASSERT_EQ(Personalize(pin)(d), VN_OK);
    ASSERT_EQ(d.OtpList(VN_SLOT_PIN_RECORD, gRecords), VN_OK);
    EXPECT_EQ(std::memcmp(gRecords, &pin, sizeof pin), 0);
    EXPECT_EQ(d.storedTokens().size(), 3u) << "slot 1 is no token";
}

TEST(VirtualKeyAccess, CodeLifecycleAndReset)
{
    VirtualKeyDevice d;
    prepare(d, Tokens);
    ASSERT_EQ(d.OtpSetValueWithEnter(1), VN_OK);
    ASSERT_EQ(Personalize(pinToken("PINREC"))(d), VN_OK);
    EXPECT_EQ(hasAccess(d), 0);
    ASSERT_EQ(SetAccess("1234")(d), VN_OK);
    EXPECT_EQ(hasAccess(d), 1);
    ASSERT_EQ(ChangeAccess("1234", "secret")(d), VN_OK);
    EXPECT_EQ(Calculate(kHotp, "1234")(d), VN_ERR_WRONG_ACCESS) << "old code retired";
    EXPECT_EQ(Calculate(kHotp, "secret")(d), VN_OK);

    ASSERT_EQ(d.OtpReset(), VN_OK);
    EXPECT_TRUE(d.storedTokens().empty());
    EXPECT_EQ(d.pinRecord().serial[0], 0);
    EXPECT_EQ(hasAccess(d), 0);
    EXPECT_TRUE(d.enterFlag()) << "Reset erases secrets, not the ENTER setting";
    ASSERT_EQ(d.OtpSetValueWithEnter(0), VN_OK);
    EXPECT_FALSE(d.enterFlag());
    EXPECT_EQ(SetAccess("again")(d), VN_OK) << "a reset key takes a first code again";
}

TEST(VirtualKeyPlugging, EveryCallNeedsExactlyOnePluggedKey)
{
    VirtualKeyDevice d("K1");
    d.addKey("K2");
    for (uint32_t expected : {VN_ERR_MULTIPLE_DEVICES, VN_ERR_NO_DEVICE}) {
        for (const auto& [name, call] : kEveryCall)
            EXPECT_EQ(call(d), expected) << name;
        d.unplug("K1");
        d.unplug("K2");
    }
}

TEST(VirtualKeyTouch, NeverTouchedTimesOutAndChangesNothing)
{
    VirtualKeyDevice d;
    prepare(d, Tokens);
    d.setTouchNever(40);
    const std::string before = keyFileText(d);
    EXPECT_EQ(Personalize(pinToken("P"))(d), VN_ERR_TOUCH_TIMEOUT) << "slot 1";
    for (const auto& [name, call] : std::span(kEveryCall, 4)) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(call(d), VN_ERR_TOUCH_TIMEOUT) << name;
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(40)) << name;
    }
    EXPECT_EQ(keyFileText(d), before);
    // Calls without a touch go on; a refused request is refused without waiting.
    EXPECT_EQ(d.OtpSetValueWithEnter(1), VN_OK);
    EXPECT_EQ(SetAccess("1234")(d), VN_OK);
    EXPECT_EQ(Calculate(token("NOPE"), "1234")(d), VN_ERR_TOKEN_NOT_FOUND);
}

TEST(VirtualKeyTouch, ManualTouchServesOneCallOfThePluggedKeyInTime)
{
    VirtualKeyDevice d;
    prepare(d, Tokens);
    d.setTouchManual(100);
    d.touch("VK1000001"); // given ahead: kept for the next call
    EXPECT_EQ(Calculate(kHotp)(d), VN_OK);
    EXPECT_EQ(Calculate(kHotp)(d), VN_ERR_TOUCH_TIMEOUT);
    d.touch("VK1000001");
    const fs::path touchFile = fs::path(d.keyDir()) / "VK1000001.touch";
    fs::last_write_time(touchFile, fs::last_write_time(touchFile) - std::chrono::seconds(10));
    EXPECT_EQ(d.OtpReset(), VN_ERR_TOUCH_TIMEOUT) << "older than the timeout";

    d.setTouchManual(5000);
    auto waiting = std::async(std::launch::async, [&] { return d.OtpReset(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    d.unplug("VK1000001");
    d.touch("VK1000001");
    ASSERT_EQ(waiting.wait_for(std::chrono::seconds(3)), std::future_status::ready);
    EXPECT_EQ(waiting.get(), VN_ERR_NO_DEVICE) << "unplugged while waiting";
    d.plug("VK1000001");
    EXPECT_EQ(d.hotpCounter("VK100000101"), 1u);
    EXPECT_EQ(d.storedTokens().size(), 2u);
}
