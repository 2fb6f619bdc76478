// The virtual key through libVN_Manager.so, as the program links it, next to
// vnkey as a separate process.

#include "KeyStore.h"

#include <VN_Manager.h>

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

OtpTokenRecord token(std::string_view serial, uint32_t type = VN_TYPE_HOTP,
                     uint32_t hash = VN_HASH_SHA1, uint32_t digits = 6, uint32_t interval = 30)
{
    const std::string_view seed =
        hash == VN_HASH_SHA256 ? "12345678901234567890123456789012" : "12345678901234567890";
    OtpTokenRecord r{VN_SLOT_ALL, type, hash, digits, interval, {}, {}, uint32_t(seed.size())};
    std::memcpy(r.serial, serial.data(), serial.size());
    std::memcpy(r.seed, seed.data(), seed.size());
    return r;
}

std::string slurp(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The calls with their arguments bound; access codes and challenges are text.
using Call = std::function<uint32_t()>;
const auto len = [](const char* text) { return static_cast<uint32_t>(std::strlen(text)); };
const auto Personalize = [](OtpTokenRecord r, const char* a = "") -> Call {
    return [=] { return VN_OTP_Personalize(r, a, len(a), 1); };
};
char gOtp[VN_OTP_BUFFER_SIZE];
const auto Calculate = [](OtpTokenRecord r, const char* a = "",
                          const char* challenge = "") -> Call {
    return [=] { return VN_OTP_Calculate(r, challenge, len(challenge), gOtp, nullptr, a, len(a)); };
};
const auto Delete = [](OtpTokenRecord r, const char* a = "") -> Call {
    return [=] { return VN_OTP_Delete(r, a, len(a)); };
};
const auto SetAccess = [](const char* code) -> Call {
    return [=] { return VN_OTP_SetAccess(VN_SLOT_ALL, code, len(code)); };
};
const auto ChangeAccess = [](const char* from, const char* to) -> Call {
    return [=] { return VN_OTP_ChangeAccess(VN_SLOT_ALL, from, len(from), to, len(to)); };
};

DeviceInfoRecord gInfo;
OtpTokenRecord gRecords[VN_MAX_TOKENS];
uint8_t gHas;
const OtpTokenRecord kHotp = token("VK100000101");
const OtpTokenRecord kTotp = token("VK100000102", VN_TYPE_TOTP, VN_HASH_SHA256, 8, 60);

// One call of each kind; the first four wait for a touch.
const std::pair<const char*, Call> kEveryCall[] = {
    {"Personalize", Personalize(token("X1"))},
    {"Calculate", Calculate(kHotp)},
    {"Delete", Delete(kHotp)},
    {"Reset", VN_OTP_Reset},
    {"ListDevice", [] { return VN_ListDevice(nullptr, 0); }},
    {"GetDeviceInfo", [] { return VN_GetDeviceInfo(&gInfo); }},
    {"List", [] { return VN_OTP_List(VN_SLOT_ALL, gRecords); }},
    {"SetValueWithEnter", [] { return VN_OTP_SetValueWithEnter(1); }},
    {"HasAccess", [] { return VN_OTP_HasAccess(VN_SLOT_ALL, &gHas); }},
    {"SetAccess", SetAccess("1234")},
    {"ChangeAccess", ChangeAccess("1234", "1234")},
};

struct Outcome
{
    int rc = -1;
    std::string out; // standard output and error
};

Outcome vnkey(const std::string& args)
{
    FILE* pipe = ::popen(("'" VNKEY_PATH "' " + args + " 2>&1").c_str(), "r");
    Outcome o;
    for (int c; pipe && (c = std::fgetc(pipe)) != EOF;)
        o.out += static_cast<char>(c);
    const int status = pipe ? ::pclose(pipe) : -1;
    o.rc = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return o;
}

// Soft: a key without the access-code function. Tokens: kHotp and kTotp on
// it; Code: those and the access code "1234"; Full: VN_MAX_TOKENS tokens.
enum Given { Soft, Fresh, Tokens, Code, Full };

// The test's key folder (VN_KEY_DIR, set by CTest), emptied, with one plugged
// key K1 that is touched at once.
class VirtualKey : public testing::Test
{
protected:
    void SetUp() override { given(Fresh); }

    void given(Given what)
    {
        fs::remove_all(store.dir());
        fs::create_directories(store.dir());
        vkey::KeyState key;
        key.serial = "K1";
        key.hardwareAccess = what != Soft;
        key.touch = {vkey::TouchMode::Auto, 0, 1000};
        ASSERT_TRUE(store.create(key) && store.plug("K1"));
        for (int i = 0; (what == Tokens || what == Code) && i < 2; ++i)
            ASSERT_EQ(Personalize(i == 0 ? kHotp : kTotp)(), VN_OK);
        for (int i = 0; what == Full && i < VN_MAX_TOKENS; ++i)
            ASSERT_EQ(Personalize(token("T" + std::to_string(i)))(), VN_OK);
        ASSERT_EQ(what == Code ? SetAccess("1234")() : VN_OK, VN_OK);
    }

    std::string keyFile() const { return slurp(store.keyFile("K1")); }

    const vkey::KeyStore store{std::getenv("VN_KEY_DIR") ? std::getenv("VN_KEY_DIR") : "/nowhere"};
};

} // namespace

TEST(KeyDirectory, ComesFromTheEnvironment)
{
    const std::string keys = std::getenv("VN_KEY_DIR") ? std::getenv("VN_KEY_DIR") : "";
    // VN_KEY_DIR, XDG_STATE_HOME, HOME (null: unset); the directory (null: none)
    const std::array<const char*, 4> cases[] = {
        {"/k", "/s", "/h", "/k"},
        {"", "/s", "/h", "/s/vnkey/keys"},
        {nullptr, "", "/h", "/h/.local/state/vnkey/keys"},
        {nullptr, nullptr, nullptr, nullptr},
    };
    for (const auto& c : cases) {
        for (const auto& [name, value] :
             {std::pair{"VN_KEY_DIR", c[0]}, {"XDG_STATE_HOME", c[1]}, {"HOME", c[2]}})
            value ? ::setenv(name, value, 1) : ::unsetenv(name);
        const auto dir = vkey::keyDirFromEnvironment();
        EXPECT_EQ(dir ? dir->string() : std::to_string(dir.error().status),
                  c[3] ? c[3] : std::to_string(VN_ERR_STORAGE));
    }
    // The other tests here need only the key folder back.
    ::setenv("VN_KEY_DIR", keys.c_str(), 1);
}

TEST_F(VirtualKey, OtpsMatchTheRfc4226And6238TestVectors)
{
    const OtpTokenRecord hotp = token("H"), sha1 = token("T1", VN_TYPE_TOTP, VN_HASH_SHA1, 8),
                         sha256 = token("T2", VN_TYPE_TOTP, VN_HASH_SHA256, 8);
    const auto otp = [](const OtpTokenRecord& r, const char* time = "") {
        return Calculate(r, "", time)() == VN_OK ? std::string(gOtp) : "failed";
    };
    for (const OtpTokenRecord& r : {hotp, sha1, sha256})
        ASSERT_EQ(Personalize(r)(), VN_OK);
    for (const char* expected : {"755224", "287082", "359152", "969429", "338314", "254676",
                                 "287922", "162583", "399871", "520489"})
        EXPECT_EQ(otp(hotp), expected);
    // The key takes the local time, here TZ=Europe/Berlin, of the RFC's Unix times.
    const std::array<const char*, 3> vectors[] = {
        {"1970-01-01 01:00:59", "94287082", "46119246"},
        {"2005-03-18 02:58:29", "07081804", "68084774"},
        {"2005-03-18 02:58:31", "14050471", "67062674"},
        {"2009-02-14 00:31:30", "89005924", "91819424"},
        {"2033-05-18 05:33:20", "69279037", "90698825"},
        {"2603-10-11 13:33:20", "65353130", "77737706"},
    };
    for (const auto& [time, bySha1, bySha256] : vectors) {
        EXPECT_EQ(otp(sha1, time), bySha1) << time;
        EXPECT_EQ(otp(sha256, time), bySha256) << time;
    }
}

TEST_F(VirtualKey, EachCallAnswersItsStatusAndARefusalChangesNothing)
{
    constexpr uint32_t kBadArg = VN_ERR_INVALID_ARGUMENT, kBadToken = VN_ERR_INVALID_TOKEN,
                       kWrong = VN_ERR_WRONG_ACCESS, kNotFound = VN_ERR_TOKEN_NOT_FOUND;
    const auto with = [](void (*edit)(OtpTokenRecord&)) {
        OtpTokenRecord r = token("VK100000109");
        edit(r);
        return r;
    };
    struct Case
    {
        const char* name;
        Given given;
        Call call;
        uint32_t expected;
    };
    // clang-format off
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
        {"unknown token", Tokens, Calculate(token("NOPE")), kNotFound},
        {"calculate, wrong code", Code, Calculate(kHotp, "4321"), kWrong},
        {"TOTP, 30 February", Tokens, Calculate(kTotp, "", "2024-02-30 10:00:00"), kBadArg},
        {"delete unknown token", Tokens, Delete(token("NOPE")), kNotFound},
        {"delete, wrong code", Code, Delete(kHotp, "12"), kWrong},
        {"second access code", Code, SetAccess("5678"), VN_ERR_ACCESS_ALREADY_SET},
        {"access code, software key", Soft, SetAccess("1234"), VN_ERR_NO_HW_ACCESS},
        {"empty access code", Fresh, SetAccess(""), kBadArg},
        {"probe, no code set", Fresh, ChangeAccess("qmvr482", "qmvr482"), kWrong},
        {"verify: old equals new", Code, ChangeAccess("1234", "1234"), VN_OK},
        {"ENTER flag 2", Fresh, [] { return VN_OTP_SetValueWithEnter(2); }, kBadArg},
        {"list slot 2", Fresh, [] { return VN_OTP_List(2, gRecords); }, kBadArg},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        given(c.given);
        const std::string before = keyFile();
        EXPECT_EQ(c.call(), c.expected);
        EXPECT_TRUE(c.expected == VN_OK || keyFile() == before) << "a refusal changed the key";
    }
}

// (Slot 1 answers its record whole: the software-mode PIN tests read it back.)
TEST_F(VirtualKey, ListingKeepsProgrammingOrderButNeverAnswersSeeds)
{
    for (const char* serial : {"C", "A", "B"})
        ASSERT_EQ(Personalize(token(serial))(), VN_OK);
    ASSERT_EQ(Delete(token("A"))(), VN_OK);
    ASSERT_EQ(Personalize(kTotp)(), VN_OK);
    std::memset(gRecords, 0xAA, sizeof gRecords);
    ASSERT_EQ(VN_OTP_List(VN_SLOT_ALL, gRecords), VN_OK);
    OtpTokenRecord expected[VN_MAX_TOKENS] = {token("C"), token("B"), kTotp};
    for (int i = 0; i < 3; ++i) {
        std::memset(expected[i].seed, 0, sizeof expected[i].seed);
        expected[i].seedLength = 0;
    }
    EXPECT_EQ(std::memcmp(gRecords, expected, sizeof expected), 0);
}

// (A touch from vnkey reaching a waiting call: cli_commands_test's --verify.)
TEST_F(VirtualKey, EveryCallNeedsOneKeyPluggedInAndACallThatWaitsForATouchTimesOut)
{
    EXPECT_EQ(vnkey("show K2").rc, 1) << "no such key";
    ASSERT_EQ(vnkey("create K2").rc, 0);
    EXPECT_EQ(VN_ListDevice(nullptr, 0), VN_OK) << "a new key is not plugged in";
    ASSERT_EQ(vnkey("plug K2").rc, 0);
    for (const auto& [name, call] : kEveryCall)
        EXPECT_EQ(call(), VN_ERR_MULTIPLE_DEVICES) << name;
    ASSERT_EQ(vnkey("unplug K2").rc, 0);

    ASSERT_EQ(Personalize(kHotp)(), VN_OK);
    ASSERT_EQ(vnkey("set K1 --touch never --timeout 0.04").rc, 0);
    const std::string before = keyFile();
    for (int i = 0; i < 4; ++i) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(kEveryCall[i].second(), VN_ERR_TOUCH_TIMEOUT) << kEveryCall[i].first;
        EXPECT_GE(std::chrono::steady_clock::now() - start, 40ms);
    }
    EXPECT_EQ(keyFile(), before);
    EXPECT_EQ(VN_OTP_SetValueWithEnter(1), VN_OK) << "calls without a touch go on";

    ASSERT_EQ(vnkey("unplug K1").rc, 0);
    for (const auto& [name, call] : kEveryCall)
        EXPECT_EQ(call(), VN_ERR_NO_DEVICE) << name;
}

TEST_F(VirtualKey, BothWritersWaitForTheLockAndBothWritesSurvive)
{
    std::future<Outcome> setter;
    std::future<uint32_t> personalize;
    {
        auto lock = store.lock();
        ASSERT_TRUE(lock.has_value());
        setter = std::async(std::launch::async, [] { return vnkey("set K1 --timeout 7"); });
        personalize = std::async(std::launch::async, Personalize(kHotp));
        std::this_thread::sleep_for(150ms);
        EXPECT_EQ(setter.wait_for(0ms), std::future_status::timeout) << "vnkey must wait";
        EXPECT_EQ(personalize.wait_for(0ms), std::future_status::timeout) << "library must wait";
    }
    EXPECT_EQ(setter.get().rc, 0);
    EXPECT_EQ(personalize.get(), VN_OK);
    const auto key = store.load("K1");
    ASSERT_TRUE(key.has_value());
    EXPECT_EQ(key->touch.timeoutMs, 7000);
    EXPECT_EQ(key->tokens.size(), 1u);
}

// A key file is replaced, never rewritten in place, so a reader of the old
// file sees it whole; a damaged one is reported and left as it is.
TEST_F(VirtualKey, KeyFilesAreReplacedWholeAndADamagedOneIsLeftAlone)
{
    ASSERT_EQ(Personalize(kHotp)(), VN_OK);
    const std::string good = keyFile();
    fs::create_hard_link(store.keyFile("K1"), store.dir() / "old");
    ASSERT_EQ(Calculate(kHotp)(), VN_OK);
    EXPECT_EQ(slurp(store.dir() / "old"), good);
    EXPECT_EQ(store.load("K1")->tokens.at(0).counter, 1u);

    const auto edited = [&](std::string_view from, std::string_view to) {
        std::string text = good;
        return text.replace(text.find(from), from.size(), to);
    };
    for (const std::string& damaged :
         {good.substr(0, good.size() / 2), edited("\"K1\"", "\"K2\""),
          edited("\"digits\": 6", "\"digits\": 7"), edited("\"seed\": \"31", "\"seed\": \"zz")}) {
        SCOPED_TRACE(damaged);
        std::ofstream(store.keyFile("K1"), std::ios::trunc) << damaged;
        const auto key = store.load("K1");
        EXPECT_EQ(key ? VN_OK : key.error().status, VN_ERR_CORRUPT_KEY);
        EXPECT_NE(vnkey("list").out.find("DAMAGED"), std::string::npos);
        EXPECT_EQ(vnkey("set K1 --timeout 3").rc, 1);
        EXPECT_EQ(VN_OTP_SetValueWithEnter(1), VN_ERR_CORRUPT_KEY);
        EXPECT_EQ(VN_OTP_Reset(), VN_ERR_CORRUPT_KEY);
        EXPECT_EQ(keyFile(), damaged);
    }
}
