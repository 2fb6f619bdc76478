// The eleven calls against the virtual key, through the in-process binding
// the other tests use: every status a call can answer, and what each call
// leaves on the key.

#include "TestRecords.h"
#include "support/VirtualKeyDevice.h"

#include "VirtualDevice.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <sstream>
#include <thread>

using testrec::token;
namespace fs = std::filesystem;

namespace {

uint32_t personalize(DeviceApi& d, const OtpTokenRecord& r, std::string_view access = {})
{
    return d.OtpPersonalize(r, access.data(), static_cast<uint32_t>(access.size()), 1);
}

uint32_t calculate(DeviceApi& d, const OtpTokenRecord& r, std::string_view challenge = {},
                   std::string_view access = {}, std::string* value = nullptr)
{
    char otp[VN_OTP_BUFFER_SIZE] = {};
    uint32_t reserved = 0;
    uint32_t status =
        d.OtpCalculate(r, challenge.data(), static_cast<uint32_t>(challenge.size()), otp, &reserved,
                       access.data(), static_cast<uint32_t>(access.size()));
    if (value)
        *value = otp;
    return status;
}

uint32_t removeToken(DeviceApi& d, const OtpTokenRecord& r, std::string_view access = {})
{
    return d.OtpDelete(r, access.data(), static_cast<uint32_t>(access.size()));
}

uint32_t setAccess(DeviceApi& d, std::string_view code)
{
    return d.OtpSetAccess(VN_SLOT_ALL, code.data(), static_cast<uint32_t>(code.size()));
}

uint32_t changeAccess(DeviceApi& d, std::string_view oldCode, std::string_view newCode)
{
    return d.OtpChangeAccess(VN_SLOT_ALL, oldCode.data(), static_cast<uint32_t>(oldCode.size()),
                             newCode.data(), static_cast<uint32_t>(newCode.size()));
}

std::vector<OtpTokenRecord> listTokens(DeviceApi& d)
{
    std::vector<OtpTokenRecord> records(VN_MAX_TOKENS);
    EXPECT_EQ(d.OtpList(VN_SLOT_ALL, records.data()), VN_OK);
    return records;
}

std::string fileText(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

const OtpTokenRecord kHotp = token("VK100000101");
const OtpTokenRecord kTotp = token("VK100000102", VN_TYPE_TOTP, VN_HASH_SHA256, 8, 60);
constexpr std::string_view kNow = "2024-05-01 13:07:55";

using KeySetup = std::function<void(VirtualKeyDevice&)>;
using KeyCall = std::function<uint32_t(VirtualKeyDevice&)>;

struct StatusCase
{
    const char* name;
    bool hardwareMode;
    KeySetup setup;
    KeyCall call;
    uint32_t expected;
};

void withTokens(VirtualKeyDevice& d)
{
    ASSERT_EQ(personalize(d, kHotp), VN_OK);
    ASSERT_EQ(personalize(d, kTotp), VN_OK);
}

void withCode(VirtualKeyDevice& d)
{
    withTokens(d);
    ASSERT_EQ(setAccess(d, "1234"), VN_OK);
}

OtpTokenRecord changed(std::function<void(OtpTokenRecord&)> edit)
{
    OtpTokenRecord r = token("VK100000109");
    edit(r);
    return r;
}

} // namespace

TEST(VirtualKeyStatuses, EachCallAnswersItsStatus)
{
    const KeySetup none = [](VirtualKeyDevice&) {};
    const std::vector<StatusCase> cases = {
        // Personalize
        {"new HOTP token", true, none, [](auto& d) { return personalize(d, kHotp); }, VN_OK},
        {"new TOTP SHA-256 token", true, none, [](auto& d) { return personalize(d, kTotp); },
         VN_OK},
        {"serial already on the key", true, withTokens,
         [](auto& d) { return personalize(d, token("VK100000101", VN_TYPE_TOTP)); },
         VN_ERR_DUPLICATE_SERIAL},
        {"21st token", true,
         [](auto& d) {
             for (int i = 0; i < VN_MAX_TOKENS; ++i)
                 ASSERT_EQ(personalize(d, token("T" + std::to_string(i))), VN_OK);
         },
         [](auto& d) { return personalize(d, token("T20")); }, VN_ERR_KEY_FULL},
        {"static-password type", true, none,
         [](auto& d) {
             return personalize(d, changed([](auto& r) { r.type = VN_TYPE_STATIC_PASSWORD; }));
         },
         VN_ERR_INVALID_TOKEN},
        {"unknown hash", true, none,
         [](auto& d) { return personalize(d, changed([](auto& r) { r.hash = 3; })); },
         VN_ERR_INVALID_TOKEN},
        {"7 digits", true, none,
         [](auto& d) { return personalize(d, changed([](auto& r) { r.digits = 7; })); },
         VN_ERR_INVALID_TOKEN},
        {"interval 45", true, none,
         [](auto& d) { return personalize(d, changed([](auto& r) { r.interval = 45; })); },
         VN_ERR_INVALID_TOKEN},
        {"empty serial", true, none,
         [](auto& d) { return personalize(d, changed([](auto& r) { r.serial[0] = 0; })); },
         VN_ERR_INVALID_TOKEN},
        {"serial without terminator", true, none,
         [](auto& d) {
             return personalize(d, changed([](auto& r) { std::memset(r.serial, 'A', 64); }));
         },
         VN_ERR_INVALID_TOKEN},
        {"16-byte seed", true, none,
         [](auto& d) { return personalize(d, changed([](auto& r) { r.seedLength = 16; })); },
         VN_ERR_INVALID_TOKEN},
        {"seed length past the field", true, none,
         [](auto& d) { return personalize(d, changed([](auto& r) { r.seedLength = 65; })); },
         VN_ERR_INVALID_TOKEN},
        {"slot 0", true, none,
         [](auto& d) { return personalize(d, changed([](auto& r) { r.slot = 0; })); },
         VN_ERR_INVALID_ARGUMENT},
        {"null access text with a length", true, none,
         [](auto& d) { return d.OtpPersonalize(kHotp, nullptr, 4, 1); }, VN_ERR_INVALID_ARGUMENT},
        {"code set, none given", true, withCode,
         [](auto& d) { return personalize(d, token("NEW")); }, VN_ERR_WRONG_ACCESS},
        {"code set, a prefix given", true, withCode,
         [](auto& d) { return personalize(d, token("NEW"), "123"); }, VN_ERR_WRONG_ACCESS},
        {"code set, longer text given", true, withCode,
         [](auto& d) { return personalize(d, token("NEW"), "12345"); }, VN_ERR_WRONG_ACCESS},
        {"code set, right code", true, withCode,
         [](auto& d) { return personalize(d, token("NEW"), "1234"); }, VN_OK},
        {"no code set: access text ignored", true, none,
         [](auto& d) { return personalize(d, kHotp, "anything"); }, VN_OK},
        {"software key: access text ignored", false, none,
         [](auto& d) { return personalize(d, kHotp, "anything"); }, VN_OK},
        {"slot 1 while a code is set", true, withCode,
         [](auto& d) {
             OtpTokenRecord pin = token("AAAA", VN_TYPE_TOTP, VN_HASH_SHA1, 6, 30, "50827413");
             pin.slot = VN_SLOT_PIN_RECORD;
             return d.OtpPersonalize(pin, nullptr, 0, 1);
         },
         VN_OK},
        // Calculate
        {"unknown token", true, withTokens, [](auto& d) { return calculate(d, token("NOPE")); },
         VN_ERR_TOKEN_NOT_FOUND},
        {"calculate with wrong code", true, withCode,
         [](auto& d) { return calculate(d, kHotp, {}, "4321"); }, VN_ERR_WRONG_ACCESS},
        {"calculate with right code", true, withCode,
         [](auto& d) { return calculate(d, kHotp, {}, "1234"); }, VN_OK},
        {"no OTP buffer", true, withTokens,
         [](auto& d) { return d.OtpCalculate(kHotp, nullptr, 0, nullptr, nullptr, nullptr, 0); },
         VN_ERR_INVALID_ARGUMENT},
        {"TOTP, time given", true, withTokens, [](auto& d) { return calculate(d, kTotp, kNow); },
         VN_OK},
        {"TOTP, empty challenge", true, withTokens, [](auto& d) { return calculate(d, kTotp, ""); },
         VN_ERR_INVALID_ARGUMENT},
        {"TOTP, 30 February", true, withTokens,
         [](auto& d) { return calculate(d, kTotp, "2024-02-30 10:00:00"); },
         VN_ERR_INVALID_ARGUMENT},
        {"TOTP, ISO T separator", true, withTokens,
         [](auto& d) { return calculate(d, kTotp, "2024-05-01T13:07:55"); },
         VN_ERR_INVALID_ARGUMENT},
        {"TOTP, length 20 with a trailing NUL", true, withTokens,
         [](auto& d) { return calculate(d, kTotp, std::string_view("2024-05-01 13:07:55", 20)); },
         VN_ERR_INVALID_ARGUMENT},
        {"HOTP ignores the challenge", true, withTokens,
         [](auto& d) { return calculate(d, kHotp, "whatever"); }, VN_OK},
        // Delete
        {"delete unknown token", true, withTokens,
         [](auto& d) { return removeToken(d, token("NOPE")); }, VN_ERR_TOKEN_NOT_FOUND},
        {"delete from slot 1", true, withTokens,
         [](auto& d) {
             OtpTokenRecord r = kHotp;
             r.slot = VN_SLOT_PIN_RECORD;
             return removeToken(d, r);
         },
         VN_ERR_INVALID_ARGUMENT},
        {"delete with wrong code", true, withCode,
         [](auto& d) { return removeToken(d, kHotp, "12"); }, VN_ERR_WRONG_ACCESS},
        {"delete with right code", true, withCode,
         [](auto& d) { return removeToken(d, kHotp, "1234"); }, VN_OK},
        // Access codes
        {"first access code", true, none, [](auto& d) { return setAccess(d, "1234"); }, VN_OK},
        {"second access code", true, withCode, [](auto& d) { return setAccess(d, "5678"); },
         VN_ERR_ACCESS_ALREADY_SET},
        {"access code on a software key", false, none, [](auto& d) { return setAccess(d, "1234"); },
         VN_ERR_NO_HW_ACCESS},
        {"empty access code", true, none, [](auto& d) { return setAccess(d, ""); },
         VN_ERR_INVALID_ARGUMENT},
        {"65-byte access code", true, none,
         [](auto& d) { return setAccess(d, std::string(65, 'x')); }, VN_ERR_INVALID_ARGUMENT},
        {"access code for slot 1", true, none,
         [](auto& d) { return d.OtpSetAccess(VN_SLOT_PIN_RECORD, "1234", 4); },
         VN_ERR_INVALID_ARGUMENT},
        {"probe on a software key", false, none,
         [](auto& d) { return changeAccess(d, "qmvr482", "qmvr482"); }, VN_ERR_NO_HW_ACCESS},
        {"probe on a hardware key without code", true, none,
         [](auto& d) { return changeAccess(d, "qmvr482", "qmvr482"); }, VN_ERR_WRONG_ACCESS},
        {"probe on a hardware key with code", true, withCode,
         [](auto& d) { return changeAccess(d, "qmvr482", "qmvr482"); }, VN_ERR_WRONG_ACCESS},
        {"change with right old code", true, withCode,
         [](auto& d) { return changeAccess(d, "1234", "98765"); }, VN_OK},
        {"verify: old equals new", true, withCode,
         [](auto& d) { return changeAccess(d, "1234", "1234"); }, VN_OK},
        {"change to an empty code", true, withCode,
         [](auto& d) { return changeAccess(d, "1234", ""); }, VN_ERR_INVALID_ARGUMENT},
        {"has-access for slot 1", true, none,
         [](auto& d) {
             uint8_t has = 0;
             return d.OtpHasAccess(VN_SLOT_PIN_RECORD, &has);
         },
         VN_ERR_INVALID_ARGUMENT},
        {"has-access without a result", true, none,
         [](auto& d) { return d.OtpHasAccess(VN_SLOT_ALL, nullptr); }, VN_ERR_INVALID_ARGUMENT},
        // The rest
        {"ENTER flag 2", true, none, [](auto& d) { return d.OtpSetValueWithEnter(2); },
         VN_ERR_INVALID_ARGUMENT},
        {"list slot 2", true, none,
         [](auto& d) {
             OtpTokenRecord r[VN_MAX_TOKENS] = {};
             return d.OtpList(2, r);
         },
         VN_ERR_INVALID_ARGUMENT},
        {"list without buffer", true, none, [](auto& d) { return d.OtpList(VN_SLOT_ALL, nullptr); },
         VN_ERR_INVALID_ARGUMENT},
        {"device info without buffer", true, none, [](auto& d) { return d.GetDeviceInfo(nullptr); },
         VN_ERR_INVALID_ARGUMENT},
    };
    for (const StatusCase& c : cases) {
        SCOPED_TRACE(c.name);
        VirtualKeyDevice d("VK1000001", c.hardwareMode);
        c.setup(d);
        EXPECT_EQ(c.call(d), c.expected);
    }
}

TEST(VirtualKeyStatuses, RefusedRequestsLeaveTheKeyAsItWas)
{
    VirtualKeyDevice d;
    withCode(d);
    ASSERT_EQ(calculate(d, kHotp, {}, "1234"), VN_OK);
    auto before = fileText(fs::path(d.keyDir()) / "VK1000001.json");
    EXPECT_EQ(personalize(d, token("NEW"), "bad"), VN_ERR_WRONG_ACCESS);
    EXPECT_EQ(calculate(d, kHotp, {}, "bad"), VN_ERR_WRONG_ACCESS);
    EXPECT_EQ(removeToken(d, kHotp, "bad"), VN_ERR_WRONG_ACCESS);
    EXPECT_EQ(changeAccess(d, "bad", "new1"), VN_ERR_WRONG_ACCESS);
    EXPECT_EQ(personalize(d, changed([](auto& r) { r.digits = 9; }), "1234"), VN_ERR_INVALID_TOKEN);
    EXPECT_EQ(fileText(fs::path(d.keyDir()) / "VK1000001.json"), before);
    EXPECT_EQ(d.hotpCounter("VK100000101"), 1u);
}

TEST(VirtualKeyTokens, ListingNeverReturnsSeeds)
{
    VirtualKeyDevice d;
    withTokens(d);
    auto listed = listTokens(d);
    ASSERT_STREQ(listed[0].serial, "VK100000101");
    ASSERT_STREQ(listed[1].serial, "VK100000102");
    for (const OtpTokenRecord& r : listed) {
        EXPECT_EQ(r.seedLength, 0u) << r.serial;
        EXPECT_TRUE(std::all_of(std::begin(r.seed), std::end(r.seed), [](uint8_t b) {
            return b == 0;
        })) << r.serial;
    }
    // The key has them all the same.
    auto stored = d.storedTokens();
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_EQ(stored[1].seedLength, 32u);
    EXPECT_EQ(std::memcmp(stored[1].seed, kTotp.seed, 32), 0);
}

TEST(VirtualKeyTokens, ListingKeepsProgrammingOrderAndEndsWithZeroedRecords)
{
    VirtualKeyDevice d;
    for (const char* serial : {"C", "A", "B"})
        ASSERT_EQ(personalize(d, token(serial)), VN_OK);
    ASSERT_EQ(removeToken(d, token("A")), VN_OK);
    ASSERT_EQ(personalize(d, kTotp), VN_OK);
    auto listed = listTokens(d);
    EXPECT_STREQ(listed[0].serial, "C");
    EXPECT_STREQ(listed[1].serial, "B");
    EXPECT_STREQ(listed[2].serial, "VK100000102");
    EXPECT_EQ(listed[2].slot, VN_SLOT_ALL);
    EXPECT_EQ(listed[2].type, VN_TYPE_TOTP);
    EXPECT_EQ(listed[2].hash, VN_HASH_SHA256);
    EXPECT_EQ(listed[2].digits, 8u);
    EXPECT_EQ(listed[2].interval, 60u);
    OtpTokenRecord zero{};
    for (std::size_t i = 3; i < listed.size(); ++i)
        EXPECT_EQ(std::memcmp(&listed[i], &zero, sizeof zero), 0) << i;
}

TEST(VirtualKeyTokens, SlotOneHoldsTheRecordAsWritten)
{
    VirtualKeyDevice d;
    OtpTokenRecord listed;
    std::memset(&listed, 0xAA, sizeof listed);
    ASSERT_EQ(d.OtpList(VN_SLOT_PIN_RECORD, &listed), VN_OK);
    OtpTokenRecord zero{};
    EXPECT_EQ(std::memcmp(&listed, &zero, sizeof zero), 0) << "none written: zeroed record";

    OtpTokenRecord pin = token(std::string(48, 'Q'), VN_TYPE_TOTP, VN_HASH_SHA1, 6, 30, "50827413");
    pin.slot = VN_SLOT_PIN_RECORD;
    ASSERT_EQ(personalize(d, pin), VN_OK);
    pin.serial[0] = 'R';
    ASSERT_EQ(personalize(d, pin), VN_OK) << "slot 1 is replaced, not added to";
    ASSERT_EQ(d.OtpList(VN_SLOT_PIN_RECORD, &listed), VN_OK);
    EXPECT_EQ(std::memcmp(&listed, &pin, sizeof pin), 0);
    EXPECT_TRUE(d.storedTokens().empty());
}

TEST(VirtualKeyTokens, HotpCounterMovesOnlyWithValuesHandedOut)
{
    VirtualKeyDevice d;
    withCode(d);
    std::string first, second;
    ASSERT_EQ(calculate(d, kHotp, {}, "1234", &first), VN_OK);
    EXPECT_EQ(calculate(d, kHotp, {}, "nope"), VN_ERR_WRONG_ACCESS);
    d.setTouchNever(0);
    EXPECT_EQ(calculate(d, kHotp, {}, "1234"), VN_ERR_TOUCH_TIMEOUT);
    d.setTouchAuto();
    ASSERT_EQ(calculate(d, kHotp, {}, "1234", &second), VN_OK);
    EXPECT_EQ(first, "755224");  // RFC 4226 counter 0
    EXPECT_EQ(second, "287082"); // counter 1
    EXPECT_EQ(d.hotpCounter("VK100000101"), 2u);
    // A TOTP value does not touch any counter.
    ASSERT_EQ(calculate(d, kTotp, kNow, "1234"), VN_OK);
    EXPECT_EQ(d.hotpCounter("VK100000102"), 0u);
}

TEST(VirtualKeyAccess, CodeLifecycleAndReset)
{
    VirtualKeyDevice d;
    withTokens(d);
    ASSERT_EQ(d.OtpSetValueWithEnter(1), VN_OK);
    OtpTokenRecord pin = token("PINREC", VN_TYPE_TOTP, VN_HASH_SHA1, 6, 30, "50827413");
    pin.slot = VN_SLOT_PIN_RECORD;
    ASSERT_EQ(personalize(d, pin), VN_OK);
    uint8_t has = 9;
    ASSERT_EQ(d.OtpHasAccess(VN_SLOT_ALL, &has), VN_OK);
    EXPECT_EQ(has, 0);

    ASSERT_EQ(setAccess(d, "1234"), VN_OK);
    ASSERT_EQ(d.OtpHasAccess(VN_SLOT_ALL, &has), VN_OK);
    EXPECT_EQ(has, 1);
    ASSERT_EQ(changeAccess(d, "1234", "secret"), VN_OK);
    EXPECT_EQ(d.accessCode(), "secret");
    EXPECT_EQ(calculate(d, kHotp, {}, "1234"), VN_ERR_WRONG_ACCESS) << "old code retired";
    EXPECT_EQ(calculate(d, kHotp, {}, "secret"), VN_OK);

    ASSERT_EQ(d.OtpReset(), VN_OK);
    EXPECT_TRUE(d.storedTokens().empty());
    EXPECT_EQ(d.accessCode(), std::nullopt);
    EXPECT_EQ(d.pinRecord().seedLength, 0u);
    EXPECT_EQ(d.pinRecord().serial[0], 0);
    EXPECT_TRUE(d.enterFlag()) << "Reset erases secrets, not the ENTER setting";
    ASSERT_EQ(d.OtpSetValueWithEnter(0), VN_OK);
    EXPECT_FALSE(d.enterFlag());
    ASSERT_EQ(d.OtpHasAccess(VN_SLOT_ALL, &has), VN_OK);
    EXPECT_EQ(has, 0);
    EXPECT_EQ(setAccess(d, "again"), VN_OK) << "a reset key takes a first code again";
}

TEST(VirtualKeyPlugging, EveryCallNeedsExactlyOnePluggedKey)
{
    const std::vector<std::pair<const char*, KeyCall>> calls = {
        {"ListDevice", [](auto& d) { return d.ListDevice(nullptr, 0); }},
        {"GetDeviceInfo",
         [](auto& d) {
             DeviceInfoRecord info{};
             return d.GetDeviceInfo(&info);
         }},
        {"OtpList",
         [](auto& d) {
             std::vector<OtpTokenRecord> r(VN_MAX_TOKENS);
             return d.OtpList(VN_SLOT_ALL, r.data());
         }},
        {"OtpPersonalize", [](auto& d) { return personalize(d, token("X1")); }},
        {"OtpCalculate", [](auto& d) { return calculate(d, kHotp); }},
        {"OtpDelete", [](auto& d) { return removeToken(d, kHotp); }},
        {"OtpReset", [](auto& d) { return d.OtpReset(); }},
        {"OtpSetValueWithEnter", [](auto& d) { return d.OtpSetValueWithEnter(1); }},
        {"OtpHasAccess",
         [](auto& d) {
             uint8_t has = 0;
             return d.OtpHasAccess(VN_SLOT_ALL, &has);
         }},
        {"OtpSetAccess", [](auto& d) { return setAccess(d, "1234"); }},
        {"OtpChangeAccess", [](auto& d) { return changeAccess(d, "1234", "1234"); }},
    };
    VirtualKeyDevice d("K1");
    d.addKey("K2");
    for (const auto& [name, call] : calls) {
        SCOPED_TRACE(name);
        EXPECT_EQ(call(d), VN_ERR_MULTIPLE_DEVICES) << "two keys";
    }
    d.unplug("K1");
    d.unplug("K2");
    for (const auto& [name, call] : calls) {
        SCOPED_TRACE(name);
        EXPECT_EQ(call(d), VN_ERR_NO_DEVICE) << "no key";
    }
}

TEST(VirtualKeyPlugging, EachKeyKeepsItsOwnTokens)
{
    VirtualKeyDevice d("K1");
    ASSERT_EQ(personalize(d, token("K101")), VN_OK);
    d.addKey("K2", false);
    d.unplug("K1");
    EXPECT_EQ(d.ListDevice(nullptr, 0), VN_OK);
    DeviceInfoRecord info{};
    ASSERT_EQ(d.GetDeviceInfo(&info), VN_OK);
    EXPECT_STREQ(info.serialNumber, "K2");
    EXPECT_STREQ(listTokens(d)[0].serial, "") << "K2 is empty";
    EXPECT_EQ(changeAccess(d, "qmvr482", "qmvr482"), VN_ERR_NO_HW_ACCESS);

    d.unplug("K2");
    d.plug("K1");
    ASSERT_EQ(d.GetDeviceInfo(&info), VN_OK);
    EXPECT_STREQ(info.serialNumber, "K1");
    EXPECT_STREQ(listTokens(d)[0].serial, "K101");
    EXPECT_THROW(d.plug("K9"), std::runtime_error) << "no such key to plug";
}

TEST(VirtualKeyPlugging, MarkerFileExistsExactlyWhilePluggedIn)
{
    VirtualKeyDevice d("K1");
    fs::path marker = fs::path(d.keyDir()) / "plugged" / "K1";
    EXPECT_TRUE(fs::exists(marker));
    d.unplug("K1");
    EXPECT_FALSE(fs::exists(marker));
    d.unplug("K1"); // unplugging twice is no error
    d.plug("K1");
    EXPECT_TRUE(fs::exists(marker));
    // Nothing but the marker: no temporary file is left for the watcher to see.
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(marker.parent_path()))
        names.push_back(e.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"K1"});
}

TEST(VirtualKeyTouch, NeverTouchedTimesOutAndChangesNothing)
{
    VirtualKeyDevice d;
    withTokens(d);
    d.setTouchNever(40);
    auto before = fileText(fs::path(d.keyDir()) / "VK1000001.json");
    const std::vector<std::pair<const char*, KeyCall>> touching = {
        {"Personalize", [](auto& d) { return personalize(d, token("NEW")); }},
        {"Personalize slot 1",
         [](auto& d) {
             OtpTokenRecord pin = token("P");
             pin.slot = VN_SLOT_PIN_RECORD;
             return personalize(d, pin);
         }},
        {"Calculate", [](auto& d) { return calculate(d, kHotp); }},
        {"Delete", [](auto& d) { return removeToken(d, kHotp); }},
        {"Reset", [](auto& d) { return d.OtpReset(); }},
    };
    for (const auto& [name, call] : touching) {
        SCOPED_TRACE(name);
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(call(d), VN_ERR_TOUCH_TIMEOUT);
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(40));
    }
    EXPECT_EQ(fileText(fs::path(d.keyDir()) / "VK1000001.json"), before);
    // The calls that need no touch go on as usual.
    EXPECT_EQ(d.OtpSetValueWithEnter(1), VN_OK);
    EXPECT_EQ(setAccess(d, "1234"), VN_OK);
    // A refused request is refused at once, without waiting for the touch.
    EXPECT_EQ(calculate(d, token("NOPE"), {}, "1234"), VN_ERR_TOKEN_NOT_FOUND);
}

TEST(VirtualKeyTouch, ManualTouchLetsOneWaitingCallThrough)
{
    VirtualKeyDevice d;
    withTokens(d);
    d.setTouchManual(5000);
    auto waiting = std::async(std::launch::async, [&] { return calculate(d, kHotp); });
    EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout)
        << "must wait for the touch";
    d.touch("VK1000001");
    ASSERT_EQ(waiting.wait_for(std::chrono::seconds(3)), std::future_status::ready);
    EXPECT_EQ(waiting.get(), VN_OK);
    EXPECT_FALSE(fs::exists(fs::path(d.keyDir()) / "VK1000001.touch")) << "touch consumed";

    // A touch given ahead is kept for the next call, but serves only one.
    d.setTouchManual(100);
    d.touch("VK1000001");
    EXPECT_EQ(calculate(d, kHotp), VN_OK);
    EXPECT_EQ(calculate(d, kHotp), VN_ERR_TOUCH_TIMEOUT);
    EXPECT_EQ(d.hotpCounter("VK100000101"), 2u);
}

TEST(VirtualKeyTouch, TouchOlderThanTheTimeoutIsStale)
{
    VirtualKeyDevice d;
    withTokens(d);
    d.setTouchManual(50);
    d.touch("VK1000001");
    fs::path touchFile = fs::path(d.keyDir()) / "VK1000001.touch";
    fs::last_write_time(touchFile, fs::last_write_time(touchFile) - std::chrono::seconds(10));
    EXPECT_EQ(d.OtpReset(), VN_ERR_TOUCH_TIMEOUT);
    EXPECT_EQ(d.storedTokens().size(), 2u);
}

TEST(VirtualKeyTouch, KeyUnpluggedWhileWaitingIsGone)
{
    VirtualKeyDevice d;
    withTokens(d);
    d.setTouchManual(5000);
    auto waiting = std::async(std::launch::async, [&] { return d.OtpReset(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    d.unplug("VK1000001");
    d.touch("VK1000001");
    ASSERT_EQ(waiting.wait_for(std::chrono::seconds(3)), std::future_status::ready);
    EXPECT_EQ(waiting.get(), VN_ERR_NO_DEVICE);
    d.plug("VK1000001");
    EXPECT_EQ(d.storedTokens().size(), 2u);
}

TEST(VirtualKeyFiles, StateSurvivesANewDeviceOnTheSameDirectory)
{
    VirtualKeyDevice d;
    withCode(d);
    ASSERT_EQ(d.OtpSetValueWithEnter(1), VN_OK);
    ASSERT_EQ(calculate(d, kHotp, {}, "1234"), VN_OK);
    ASSERT_EQ(calculate(d, kHotp, {}, "1234"), VN_OK);

    vkey::VirtualDevice reloaded(d.keyDir());
    char otp[VN_OTP_BUFFER_SIZE] = {};
    EXPECT_EQ(reloaded.otpCalculate(kHotp, nullptr, 0, otp, nullptr, "12", 2), VN_ERR_WRONG_ACCESS);
    ASSERT_EQ(reloaded.otpCalculate(kHotp, nullptr, 0, otp, nullptr, "1234", 4), VN_OK);
    EXPECT_STREQ(otp, "359152"); // RFC 4226 counter 2: the count went on
    uint8_t has = 0;
    ASSERT_EQ(reloaded.otpHasAccess(VN_SLOT_ALL, &has), VN_OK);
    EXPECT_EQ(has, 1);
    EXPECT_TRUE(d.enterFlag());
    EXPECT_EQ(d.storedTokens().size(), 2u);
}

TEST(VirtualKeyFiles, DamagedKeyFileIsReportedAndLeftAlone)
{
    const std::vector<std::pair<const char*, std::string>> damages = {
        {"empty file", ""},
        {"not JSON", "{ this is not json"},
        {"truncated", R"({"format": 1, "serial": "VK1000001", "hardwareAccess": tr)"},
        {"empty object", "{}"},
        {"another key's file",
         R"({"format":1,"serial":"OTHER","hardwareAccess":true,"accessCode":null,"enter":false,)"
         R"("touch":{"mode":"auto","delayMs":0,"timeoutMs":100},"pinRecord":null,"tokens":[]})"},
        {"7-digit token",
         R"({"format":1,"serial":"VK1000001","hardwareAccess":true,"accessCode":null,)"
         R"("enter":false,"touch":{"mode":"auto","delayMs":0,"timeoutMs":100},"pinRecord":null,)"
         R"("tokens":[{"serial":"T1","type":16,"hash":1,"digits":7,"interval":30,)"
         R"("seed":"3132333435363738393031323334353637383930","counter":0}]})"},
        {"seed not hex",
         R"({"format":1,"serial":"VK1000001","hardwareAccess":true,"accessCode":null,)"
         R"("enter":false,"touch":{"mode":"auto","delayMs":0,"timeoutMs":100},"pinRecord":null,)"
         R"("tokens":[{"serial":"T1","type":16,"hash":1,"digits":6,"interval":30,)"
         R"("seed":"zz","counter":0}]})"},
        {"unknown touch mode",
         R"({"format":1,"serial":"VK1000001","hardwareAccess":true,"accessCode":null,)"
         R"("enter":false,"touch":{"mode":"sometimes","delayMs":0,"timeoutMs":100},)"
         R"("pinRecord":null,"tokens":[]})"},
    };
    for (const auto& [name, content] : damages) {
        SCOPED_TRACE(name);
        VirtualKeyDevice d;
        fs::path file = fs::path(d.keyDir()) / "VK1000001.json";
        std::ofstream(file, std::ios::binary | std::ios::trunc) << content;
        DeviceInfoRecord info{};
        uint8_t has = 0;
        EXPECT_EQ(d.ListDevice(nullptr, 0), VN_OK) << "still plugged in";
        EXPECT_EQ(d.GetDeviceInfo(&info), VN_ERR_CORRUPT_KEY);
        EXPECT_EQ(personalize(d, kHotp), VN_ERR_CORRUPT_KEY);
        EXPECT_EQ(d.OtpReset(), VN_ERR_CORRUPT_KEY);
        EXPECT_EQ(d.OtpSetValueWithEnter(1), VN_ERR_CORRUPT_KEY);
        EXPECT_EQ(d.OtpHasAccess(VN_SLOT_ALL, &has), VN_ERR_CORRUPT_KEY);
        EXPECT_EQ(fileText(file), content) << "never silently replaced";
    }
}
