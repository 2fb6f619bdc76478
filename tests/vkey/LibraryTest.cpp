#include "TestRecords.h"

#include "KeyStore.h"

#include <VN_Manager.h>

#include <gtest/gtest.h>

#include <sys/wait.h>

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
    std::string out; // stdout and stderr
};

// VN_KEY_DIR holds one plugged key K1 that is touched at once.
class Library : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ::setenv("TZ", "Europe/Berlin", 1);
        ::tzset();
        ::setenv("VN_KEY_DIR", dir().c_str(), 1);
        fs::create_directories(dir());
        vkey::KeyState key;
        key.serial = "K1";
        key.touch = {vkey::TouchMode::Auto, 0, 1000};
        ASSERT_TRUE(m_store.create(key).has_value());
        ASSERT_TRUE(m_store.plug("K1").has_value());
    }

    fs::path dir() const { return m_tmp.path() / "keys"; }

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

    static Outcome run(const std::vector<std::string>& args)
    {
        std::string command = "'" VNKEY_PATH "'";
        for (const std::string& a : args)
            command += " '" + a + "'";
        FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
        Outcome o;
        char buffer[4096];
        for (std::size_t n; pipe && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            o.out.append(buffer, n);
        const int status = pipe ? ::pclose(pipe) : -1;
        o.rc = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return o;
    }

    TempDir m_tmp;
    vkey::KeyStore m_store{dir()};
};

using Vnkey = Library;

} // namespace

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
    for (const OtpTokenRecord& r : {sha1, sha256})
        ASSERT_EQ(VN_OTP_Personalize(r, nullptr, 0, 1), VN_OK);
    const std::tuple<int64_t, const char*, const char*> vectors[] = {
        {59, "94287082", "46119246"},         {1111111109, "07081804", "68084774"},
        {1111111111, "14050471", "67062674"}, {1234567890, "89005924", "91819424"},
        {2000000000, "69279037", "90698825"}, {20000000000, "65353130", "77737706"},
    };
    for (const auto& [time, bySha1, bySha256] : vectors) {
        EXPECT_EQ(calculate(sha1, time), bySha1) << time;
        EXPECT_EQ(calculate(sha256, time), bySha256) << time;
    }
}

TEST_F(Vnkey, RefusesAnUnknownKey)
{
    const Outcome o = run({"show", "NOPE"});
    EXPECT_EQ(o.rc, 1) << o.out;
    EXPECT_NE(o.out.find("no key NOPE"), std::string::npos) << o.out;
}

TEST_F(Vnkey, PlugsAndUnplugsKeysTheLibrarySees)
{
    ASSERT_EQ(run({"create", "K2"}).rc, 0);
    EXPECT_EQ(VN_ListDevice(nullptr, 0), VN_OK) << "a new key is not plugged in";
    ASSERT_EQ(run({"plug", "K2"}).rc, 0);
    EXPECT_EQ(VN_ListDevice(nullptr, 0), VN_ERR_MULTIPLE_DEVICES);
    ASSERT_EQ(run({"unplug", "K1"}).rc, 0);
    DeviceInfoRecord info{};
    ASSERT_EQ(VN_GetDeviceInfo(&info), VN_OK);
    EXPECT_STREQ(info.serialNumber, "K2");
    ASSERT_EQ(run({"unplug", "K2"}).rc, 0);
    EXPECT_EQ(VN_ListDevice(nullptr, 0), VN_ERR_NO_DEVICE);
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
    auto key = m_store.load("K1");
    ASSERT_TRUE(key.has_value());
    EXPECT_TRUE(key->tokens.empty());

    ASSERT_EQ(run({"set", "K1", "--touch", "never", "--timeout", "0.05"}).rc, 0);
    EXPECT_EQ(VN_OTP_Reset(), VN_ERR_TOUCH_TIMEOUT);
}

TEST_F(Vnkey, BothWritersWaitForTheLockAndBothWritesSurvive)
{
    std::future<Outcome> setter;
    std::future<uint32_t> personalize;
    {
        auto lock = m_store.lock();
        ASSERT_TRUE(lock.has_value());
        setter = std::async(std::launch::async, [] {
            return run({"set", "K1", "--timeout", "7"});
        });
        personalize = std::async(std::launch::async,
                                 [] { return VN_OTP_Personalize(token("K101"), nullptr, 0, 1); });
        std::this_thread::sleep_for(150ms);
        EXPECT_EQ(setter.wait_for(0ms), std::future_status::timeout) << "vnkey must wait";
        EXPECT_EQ(personalize.wait_for(0ms), std::future_status::timeout) << "library must wait";
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
    EXPECT_EQ(run({"set", "K1", "--timeout", "3"}).rc, 1);
    EXPECT_EQ(VN_OTP_SetValueWithEnter(1), VN_ERR_CORRUPT_KEY);
    EXPECT_EQ(VN_OTP_Reset(), VN_ERR_CORRUPT_KEY);
    EXPECT_EQ(slurp(dir() / "K1.json"), damaged);
}
