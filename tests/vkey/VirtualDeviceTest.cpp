#include "TestRecords.h"
#include "support/VirtualKeyDevice.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>

using namespace testrec;
namespace fs = std::filesystem;

namespace {

using Call = std::function<uint32_t(VirtualKeyDevice&)>;

DeviceInfoRecord gInfo;
OtpTokenRecord gRecords[VN_MAX_TOKENS];
uint8_t gHas;

uint32_t len(std::string_view s)
{
    return static_cast<uint32_t>(s.size());
}

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

Call ChangeAccess(std::string from, std::string to)
{
    return [=](auto& d) {
        return d.OtpChangeAccess(VN_SLOT_ALL, from.data(), len(from), to.data(), len(to));
    };
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

// Soft: no access-code function. Tokens: kHotp and kTotp; Code: also code "1234".
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
    constexpr uint32_t kBadArg = VN_ERR_INVALID_ARGUMENT, kBadToken = VN_ERR_INVALID_TOKEN,
                       kWrong = VN_ERR_WRONG_ACCESS;
    struct Case
    {
        const char* name;
        Given given;
        Call call;
        uint32_t expected;
    };
    const Case cases[] = {
        {"serial on the key", Tokens, Personalize(token("VK100000101", VN_TYPE_TOTP)),
         VN_ERR_DUPLICATE_SERIAL},
        {"21st token", Full, Personalize(token("T20")), VN_ERR_KEY_FULL},
        {"unknown hash", Fresh, Personalize(with([](auto& r) { r.hash = 3; })), kBadToken},
        {"7 digits", Fresh, Personalize(with([](auto& r) { r.digits = 7; })), kBadToken},
        {"interval 45", Fresh, Personalize(with([](auto& r) { r.interval = 45; })), kBadToken},
        {"16-byte seed", Fresh, Personalize(with([](auto& r) { r.seedLength = 16; })), kBadToken},
        {"slot 0", Fresh, Personalize(with([](auto& r) { r.slot = 0; })), kBadArg},
        {"code set, none given", Code, Personalize(token("NEW")), kWrong},
        {"code set, a prefix", Code, Personalize(token("NEW"), "123"), kWrong},
        {"code set, right code", Code, Personalize(token("NEW"), "1234"), VN_OK},
        {"software key: access ignored", Soft, Personalize(kHotp, "anything"), VN_OK},
        {"unknown token", Tokens, Calculate(token("NOPE")), VN_ERR_TOKEN_NOT_FOUND},
        {"calculate, wrong code", Code, Calculate(kHotp, "4321"), kWrong},
        {"TOTP, 30 February", Tokens, Calculate(kTotp, "", "2024-02-30 10:00:00"), kBadArg},
        {"delete unknown token", Tokens, Delete(token("NOPE")), VN_ERR_TOKEN_NOT_FOUND},
        {"delete, wrong code", Code, Delete(kHotp, "12"), kWrong},
        {"second access code", Code, SetAccess("5678"), VN_ERR_ACCESS_ALREADY_SET},
        {"access code, software key", Soft, SetAccess("1234"), VN_ERR_NO_HW_ACCESS},
        {"empty access code", Fresh, SetAccess(""), kBadArg},
        {"probe, no code set", Fresh, ChangeAccess("qmvr482", "qmvr482"), kWrong},
        {"verify: old equals new", Code, ChangeAccess("1234", "1234"), VN_OK},
        {"ENTER flag 2", Fresh, [](auto& d) { return d.OtpSetValueWithEnter(2); }, kBadArg},
        {"list slot 2", Fresh, [](auto& d) { return d.OtpList(2, gRecords); }, kBadArg},
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
    OtpTokenRecord expected[VN_MAX_TOKENS] = {token("C"), token("B"), kTotp};
    for (int i = 0; i < 3; ++i) {
        std::memset(expected[i].seed, 0, sizeof expected[i].seed);
        expected[i].seedLength = 0;
    }
    for (int i = 0; i < VN_MAX_TOKENS; ++i)
        EXPECT_EQ(std::memcmp(&gRecords[i], &expected[i], sizeof expected[i]), 0) << i;

    const OtpTokenRecord pin = pinToken(std::string(48, 'R'));
    ASSERT_EQ(Personalize(pin)(d), VN_OK);
    ASSERT_EQ(d.OtpList(VN_SLOT_PIN_RECORD, gRecords), VN_OK);
    EXPECT_EQ(std::memcmp(gRecords, &pin, sizeof pin), 0);
}

TEST(VirtualKeyPlugging, EveryCallNeedsExactlyOnePluggedKey)
{
    VirtualKeyDevice d("K1");
    d.addKey("K2");
    for (const auto& [name, call] : kEveryCall)
        EXPECT_EQ(call(d), VN_ERR_MULTIPLE_DEVICES) << name;
    d.unplug("K1");
    EXPECT_EQ(d.ListDevice(nullptr, 0), VN_OK);
    ASSERT_EQ(d.GetDeviceInfo(&gInfo), VN_OK);
    EXPECT_STREQ(gInfo.serialNumber, "K2");
    d.unplug("K2");
    for (const auto& [name, call] : kEveryCall)
        EXPECT_EQ(call(d), VN_ERR_NO_DEVICE) << name;
}

TEST(VirtualKeyTouch, NeverTouchedTimesOutAndChangesNothing)
{
    VirtualKeyDevice d;
    prepare(d, Tokens);
    d.setTouchNever(40);
    const std::string before = keyFileText(d);
    for (int i = 0; i < 4; ++i) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(kEveryCall[i].second(d), VN_ERR_TOUCH_TIMEOUT) << kEveryCall[i].first;
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(40));
    }
    EXPECT_EQ(keyFileText(d), before);
    EXPECT_EQ(d.OtpSetValueWithEnter(1), VN_OK) << "calls without a touch go on";
}
