// libVN_Manager.so as the program links it, and vnkey as a user drives it:
// a separate process on the same key directory. The key directory comes from
// the environment at every call; the RFC test vectors go through
// VN_OTP_Calculate.

#include "TestRecords.h"

#include "KeyStore.h"

#include <VN_Manager.h>

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <future>
#include <thread>

using namespace testrec;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

struct Outcome
{
    int rc = -1;
    std::string out, err;
};

// VN_KEY_DIR is dir(), which holds one plugged key K1 that is touched at once.
class Library : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ::setenv("TZ", "Europe/Berlin", 1);
        ::tzset();
        useDir(dir());
        fs::create_directories(dir());
        vkey::KeyState key;
        key.serial = "K1";
        key.touch = {vkey::TouchMode::Auto, 0, 1000};
        ASSERT_TRUE(m_store.create(key).has_value());
        ASSERT_TRUE(m_store.plug("K1").has_value());
    }

    fs::path dir() const { return m_tmp.path() / "keys"; }
    void useDir(const fs::path& dir) { ::setenv("VN_KEY_DIR", dir.c_str(), 1); }

    // The OTP, or the status as text; a TOTP challenge is the local time of unixTime.
    static std::string calculate(const OtpTokenRecord& r, int64_t unixTime = -1)
    {
        char challenge[VN_CHALLENGE_BUFFER_SIZE] = {}, otp[VN_OTP_BUFFER_SIZE] = {};
        if (unixTime >= 0) {
            const std::time_t t = static_cast<std::time_t>(unixTime);
            std::tm tm{};
            std::strftime(challenge, sizeof challenge, "%Y-%m-%d %H:%M:%S", localtime_r(&t, &tm));
        }
        uint32_t reserved = 0;
        const uint32_t status =
            VN_OTP_Calculate(r, challenge, std::strlen(challenge), otp, &reserved, nullptr, 0);
        return status == VN_OK ? std::string(otp) : "status " + std::to_string(status);
    }

    // Runs vnkey in the test's environment (thread-safe).
    Outcome run(const std::vector<std::string>& args)
    {
        const fs::path err = m_tmp.path() / ("err" + std::to_string(++m_runs));
        std::string command = "'" VNKEY_PATH "'";
        for (const std::string& a : args)
            command += " '" + a + "'";
        FILE* pipe = ::popen((command + " 2>'" + err.string() + "'").c_str(), "r");
        Outcome o;
        char buffer[4096];
        for (std::size_t n; pipe && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            o.out.append(buffer, n);
        const int status = pipe ? ::pclose(pipe) : -1;
        o.rc = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        o.err = slurp(err);
        return o;
    }

    TempDir m_tmp;
    vkey::KeyStore m_store{dir()};
    std::atomic<int> m_runs = 0;
};

using Vnkey = Library;

} // namespace

TEST_F(Library, KeyDirectoryIsReadAtEveryCallAndFirstUseBringsAKey)
{
    DeviceInfoRecord info{};
    ASSERT_EQ(VN_GetDeviceInfo(&info), VN_OK);
    EXPECT_STREQ(info.serialNumber, "K1");
    ASSERT_EQ(VN_OTP_Personalize(token("K101"), nullptr, 0, 1), VN_OK);
    useDir(m_tmp.path() / "fresh");
    EXPECT_EQ(VN_ListDevice(nullptr, 0), VN_OK);
    ASSERT_EQ(VN_GetDeviceInfo(&info), VN_OK);
    EXPECT_GT(std::strlen(info.serialNumber), 0u);
    EXPECT_LE(std::strlen(info.serialNumber), 11u) << "token proposals must fit 13 characters";
    EXPECT_EQ(calculate(token("K101")), "status " + std::to_string(VN_ERR_TOKEN_NOT_FOUND));
}

TEST_F(Library, HotpMatchesRfc4226AppendixD)
{
    const OtpTokenRecord hotp = token("K101"); // seed "12345678901234567890"
    ASSERT_EQ(VN_OTP_Personalize(hotp, nullptr, 0, 1), VN_OK);
    for (const char* expected : {"755224", "287082", "359152", "969429", "338314", "254676",
                                 "287922", "162583", "399871", "520489"})
        EXPECT_EQ(calculate(hotp), expected);
}

TEST_F(Library, TotpMatchesRfc6238AppendixB)
{
    const OtpTokenRecord sha1 = token("K101", VN_TYPE_TOTP, VN_HASH_SHA1, 8, 30);
    const OtpTokenRecord sha256 = token("K102", VN_TYPE_TOTP, VN_HASH_SHA256, 8, 30);
    const OtpTokenRecord sixty = token("K103", VN_TYPE_TOTP, VN_HASH_SHA1, 6, 60);
    for (const OtpTokenRecord& r : {sha1, sha256, sixty})
        ASSERT_EQ(VN_OTP_Personalize(r, nullptr, 0, 1), VN_OK);
    // The program sends local time; the key must read it back as local time.
    const std::tuple<int64_t, const char*, const char*> vectors[] = {
        {59, "94287082", "46119246"},         {1111111109, "07081804", "68084774"},
        {1111111111, "14050471", "67062674"}, {1234567890, "89005924", "91819424"},
        {2000000000, "69279037", "90698825"}, {20000000000, "65353130", "77737706"},
    };
    for (const auto& [time, bySha1, bySha256] : vectors) {
        EXPECT_EQ(calculate(sha1, time), bySha1) << time;
        EXPECT_EQ(calculate(sha256, time), bySha256) << time;
    }
    // With 60 s steps, time t uses counter t / 60: the RFC 4226 values apply.
    EXPECT_EQ(calculate(sixty, 120), "359152");
    EXPECT_EQ(calculate(sixty, 179), "359152");
    EXPECT_EQ(calculate(sixty, 180), "969429");
}

TEST_F(Vnkey, RefusesBadArgumentsAndUnknownKeys)
{
    ASSERT_EQ(run({"create", "K2"}).rc, 0);
    const std::tuple<std::vector<std::string>, int, std::string> cases[] = {
        {{"plug", "NOPE"}, 1, "no key NOPE"},
        {{"unplug", "NOPE"}, 1, "no key NOPE"},
        {{"show", "NOPE"}, 1, "no key NOPE"},
        {{"remove", "NOPE"}, 1, "no key NOPE"},
        {{"touch", "NOPE"}, 1, "no key NOPE"},
        {{"touch", "K2"}, 1, "not plugged in"},
        {{"set", "NOPE", "--timeout", "3"}, 1, "no key NOPE"},
        {{"create", "K1"}, 1, "already exists"},
        {{"create", "bad/serial"}, 2, "not a valid key serial"},
        {{"create", "K9", "--touch", "sometimes"}, 2, "--touch"},
        {{"create", "K9", "--touch", "auto:-5"}, 2, "--touch"},
        {{"create", "K9", "--timeout", "-1"}, 2, "--timeout"},
        {{"create", "K9", "--pin-mode", "firmware"}, 2, "pin-mode"},
        {{"show"}, 2, "SERIAL is required"},
        {{"frob"}, 2, "unknown command 'frob'"},
        {{}, 2, "subcommand is required"},
    };
    for (const auto& [args, rc, complaint] : cases) {
        const Outcome o = run(args);
        EXPECT_EQ(o.rc, rc) << ::testing::PrintToString(args) << o.err;
        EXPECT_NE(o.err.find(complaint), std::string::npos)
            << ::testing::PrintToString(args) << o.err;
    }
    EXPECT_FALSE(m_store.exists("K9")) << "a refused create leaves nothing behind";
    for (const char* sub : {"create", "set", "list", "plug", "unplug", "touch", "show", "remove"}) {
        const Outcome help = run({sub, "--help"});
        EXPECT_EQ(help.rc, 0) << sub;
        EXPECT_NE(help.out.find("Usage"), std::string::npos) << sub;
    }
}

TEST_F(Vnkey, CreatesPlugsUnplugsAndRemovesKeysTheLibrarySees)
{
    ASSERT_EQ(VN_OTP_Personalize(token("K101"), nullptr, 0, 1), VN_OK);
    EXPECT_EQ(run({"create", "K2", "--pin-mode", "software", "--touch", "auto:0"}).rc, 0);
    EXPECT_EQ(VN_ListDevice(nullptr, 0), VN_OK) << "a new key is not plugged in";
    const std::string listing = run({"list"}).out;
    EXPECT_NE(listing.find("K1             plugged"), std::string::npos) << listing;
    EXPECT_NE(listing.find("K2             unplugged  software"), std::string::npos) << listing;

    ASSERT_EQ(run({"plug", "K2"}).rc, 0);
    EXPECT_EQ(VN_ListDevice(nullptr, 0), VN_ERR_MULTIPLE_DEVICES);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir() / "plugged"), {}), 2) << "no temp file";
    ASSERT_EQ(run({"unplug", "K1"}).rc, 0);
    DeviceInfoRecord info{};
    ASSERT_EQ(VN_GetDeviceInfo(&info), VN_OK);
    EXPECT_STREQ(info.serialNumber, "K2");
    EXPECT_EQ(VN_OTP_ChangeAccess(VN_SLOT_ALL, "qmvr482", 7, "qmvr482", 7), VN_ERR_NO_HW_ACCESS);
    OtpTokenRecord listed[VN_MAX_TOKENS];
    ASSERT_EQ(VN_OTP_List(VN_SLOT_ALL, listed), VN_OK);
    EXPECT_STREQ(listed[0].serial, "") << "K1's token stays on K1";

    ASSERT_EQ(run({"remove", "K2"}).rc, 0);
    EXPECT_EQ(VN_ListDevice(nullptr, 0), VN_ERR_NO_DEVICE);
    EXPECT_FALSE(fs::exists(dir() / "K2.json"));
    EXPECT_FALSE(fs::exists(dir() / "plugged" / "K2"));
    ASSERT_EQ(run({"plug", "K1"}).rc, 0);
    ASSERT_EQ(VN_OTP_List(VN_SLOT_ALL, listed), VN_OK);
    EXPECT_STREQ(listed[0].serial, "K101");
    ASSERT_EQ(run({"unplug", "K1"}).rc, 0);
    ASSERT_EQ(run({"unplug", "K1"}).rc, 0) << "unplugging twice is no error";
    ASSERT_EQ(run({"create", "--plug"}).rc, 0);
    EXPECT_EQ(VN_ListDevice(nullptr, 0), VN_OK);
}

TEST_F(Vnkey, ShowsTokensAndPinRecordButSecretsOnlyOnRequest)
{
    ASSERT_EQ(VN_OTP_Personalize(token("K101"), nullptr, 0, 1), VN_OK);
    ASSERT_EQ(VN_OTP_Personalize(token("K102", VN_TYPE_TOTP, VN_HASH_SHA256, 8, 60), nullptr, 0, 1),
              VN_OK);
    char otp[VN_OTP_BUFFER_SIZE];
    for (int i = 0; i < 2; ++i)
        ASSERT_EQ(VN_OTP_Calculate(token("K101"), nullptr, 0, otp, nullptr, nullptr, 0), VN_OK);
    ASSERT_EQ(VN_OTP_SetAccess(VN_SLOT_ALL, "1234", 4), VN_OK);
    ASSERT_EQ(VN_OTP_SetValueWithEnter(1), VN_OK);
    // PIN policy: enabled, no PIN, expiry 90 days, minimum length 6.
    ASSERT_EQ(VN_OTP_Personalize(pinToken("AQAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAFoABgAAAAAAAA=="),
                                 nullptr, 0, 1),
              VN_OK);

    const Outcome shown = run({"show", "K1"});
    ASSERT_EQ(shown.rc, 0) << shown.err;
    for (const char* part : {"Key K1 (plugged in)", "Access code: set", "ENTER after OTP: on",
                             "policy enabled", "expiry days: 90", "min length 6",
                             "K101           HOTP SHA-1   6 digits, interval 30, counter 2",
                             "K102           TOTP SHA-256 8 digits, interval 60"})
        EXPECT_NE(shown.out.find(part), std::string::npos) << part << "\n" << shown.out;
    EXPECT_EQ(shown.out.find("3132333435"), std::string::npos) << "no seed without --secrets";
    EXPECT_EQ(shown.out.find("1234"), std::string::npos) << "no access code without --secrets";

    const Outcome secrets = run({"show", "K1", "--secrets"});
    EXPECT_NE(secrets.out.find("seed 3132333435363738393031323334353637383930"), std::string::npos)
        << secrets.out;
    EXPECT_NE(secrets.out.find("Access code: \"1234\""), std::string::npos) << secrets.out;
}

TEST_F(Vnkey, TouchReachesACallWaitingInAnotherProcess)
{
    ASSERT_EQ(VN_OTP_Personalize(token("K101"), nullptr, 0, 1), VN_OK);
    ASSERT_EQ(run({"set", "K1", "--touch", "manual", "--timeout", "5"}).rc, 0);
    auto reset = std::async(std::launch::async, [] { return VN_OTP_Reset(); });
    EXPECT_EQ(reset.wait_for(100ms), std::future_status::timeout) << "must wait for the touch";
    EXPECT_EQ(run({"touch"}).rc, 0);
    ASSERT_EQ(reset.wait_for(3s), std::future_status::ready);
    EXPECT_EQ(reset.get(), VN_OK);
    EXPECT_FALSE(fs::exists(dir() / "K1.touch")) << "the touch was used up";
    auto key = m_store.load("K1");
    ASSERT_TRUE(key.has_value());
    EXPECT_TRUE(key->tokens.empty());

    ASSERT_EQ(run({"set", "K1", "--touch", "never", "--timeout", "0.05"}).rc, 0);
    EXPECT_EQ(VN_OTP_Reset(), VN_ERR_TOUCH_TIMEOUT);
}

TEST_F(Vnkey, BothWritersWaitForTheLockAndBothWritesSurvive)
{
    const std::string before = slurp(dir() / "K1.json");
    std::future<Outcome> setter;
    std::future<uint32_t> personalize;
    {
        auto lock = m_store.lock();
        ASSERT_TRUE(lock.has_value());
        setter = std::async(std::launch::async, [this] {
            return run({"set", "K1", "--timeout", "7"});
        });
        personalize = std::async(std::launch::async,
                                 [] { return VN_OTP_Personalize(token("K101"), nullptr, 0, 1); });
        std::this_thread::sleep_for(150ms);
        EXPECT_EQ(setter.wait_for(0ms), std::future_status::timeout) << "vnkey must wait";
        EXPECT_EQ(personalize.wait_for(0ms), std::future_status::timeout) << "library must wait";
        EXPECT_EQ(slurp(dir() / "K1.json"), before);
    }
    EXPECT_EQ(setter.get().rc, 0);
    EXPECT_EQ(personalize.get(), VN_OK);

    const auto key = m_store.load("K1");
    ASSERT_TRUE(key.has_value());
    EXPECT_EQ(key->touch.timeoutMs, 7000);
    ASSERT_EQ(key->tokens.size(), 1u);
    EXPECT_EQ(key->tokens[0].serial, "K101");
}

TEST_F(Vnkey, DamagedKeyIsReportedNotRewritten)
{
    const std::string damaged = "{\"format\": 1, \"serial\": ";
    std::ofstream(dir() / "K1.json", std::ios::trunc) << damaged;
    const Outcome listed = run({"list"});
    EXPECT_EQ(listed.rc, 0);
    EXPECT_NE(listed.out.find("DAMAGED"), std::string::npos) << listed.out;
    const Outcome shown = run({"show", "K1"});
    EXPECT_EQ(shown.rc, 1);
    EXPECT_NE(shown.err.find("damaged"), std::string::npos) << shown.err;
    EXPECT_EQ(run({"set", "K1", "--timeout", "3"}).rc, 1);
    EXPECT_EQ(VN_OTP_SetValueWithEnter(1), VN_ERR_CORRUPT_KEY);
    EXPECT_EQ(VN_OTP_Reset(), VN_ERR_CORRUPT_KEY);
    EXPECT_EQ(slurp(dir() / "K1.json"), damaged);
}
