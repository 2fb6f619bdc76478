// libVN_Manager.so as the program links it: the key directory from the
// environment at every call, the key it brings on first use, and the RFC
// test vectors through VN_OTP_Calculate.

#include "TestRecords.h"

#include "KeyStore.h"

#include <VN_Manager.h>

#include <gtest/gtest.h>

#include <ctime>

using testrec::token;
namespace fs = std::filesystem;

namespace {

class Library : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ::setenv("TZ", "Europe/Berlin", 1);
        ::tzset();
        useDir(m_tmp.path() / "keys");
    }

    void useDir(const fs::path& dir) { ::setenv("VN_KEY_DIR", dir.c_str(), 1); }

    // A key directory with one plugged key that is touched at once.
    void plugFastKey(const fs::path& dir, const std::string& serial)
    {
        fs::create_directories(dir);
        vkey::KeyStore store(dir);
        vkey::KeyState key;
        key.serial = serial;
        key.touch = {vkey::TouchMode::Auto, 0, 1000};
        ASSERT_TRUE(store.create(key).has_value());
        ASSERT_TRUE(store.plug(serial).has_value());
    }

    static std::string calculate(const OtpTokenRecord& r, std::string_view challenge = {})
    {
        char otp[VN_OTP_BUFFER_SIZE] = {};
        uint32_t reserved = 0;
        uint32_t status =
            VN_OTP_Calculate(r, challenge.data(), static_cast<uint32_t>(challenge.size()), otp,
                             &reserved, nullptr, 0);
        return status == VN_OK ? std::string(otp) : "status " + std::to_string(status);
    }

    static std::string localTimeText(int64_t unixTime)
    {
        std::time_t t = static_cast<std::time_t>(unixTime);
        std::tm tm{};
        localtime_r(&t, &tm);
        char text[VN_CHALLENGE_BUFFER_SIZE] = {};
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
        return text;
    }

    testrec::TempDir m_tmp;
};

} // namespace

TEST_F(Library, FirstCallBringsAPluggedHardwareKey)
{
    ASSERT_FALSE(fs::exists(m_tmp.path() / "keys"));
    EXPECT_EQ(VN_ListDevice(nullptr, 0), VN_OK);
    DeviceInfoRecord info{};
    ASSERT_EQ(VN_GetDeviceInfo(&info), VN_OK);
    EXPECT_GT(std::strlen(info.serialNumber), 0u);
    EXPECT_LE(std::strlen(info.serialNumber), 11u) << "token proposals must fit 13 characters";
    EXPECT_TRUE(fs::exists(m_tmp.path() / "keys" / "plugged" / info.serialNumber));
    EXPECT_EQ(VN_OTP_ChangeAccess(VN_SLOT_ALL, "qmvr482", 7, "qmvr482", 7), VN_ERR_WRONG_ACCESS)
        << "hardware PIN mode";
    OtpTokenRecord records[VN_MAX_TOKENS] = {};
    ASSERT_EQ(VN_OTP_List(VN_SLOT_ALL, records), VN_OK);
    EXPECT_STREQ(records[0].serial, "");
}

TEST_F(Library, KeyDirectoryIsReadAtEveryCall)
{
    plugFastKey(m_tmp.path() / "a", "KEYA");
    plugFastKey(m_tmp.path() / "b", "KEYB");
    DeviceInfoRecord info{};
    useDir(m_tmp.path() / "a");
    ASSERT_EQ(VN_GetDeviceInfo(&info), VN_OK);
    EXPECT_STREQ(info.serialNumber, "KEYA");
    ASSERT_EQ(VN_OTP_Personalize(token("KEYA01"), nullptr, 0, 1), VN_OK);
    useDir(m_tmp.path() / "b");
    ASSERT_EQ(VN_GetDeviceInfo(&info), VN_OK);
    EXPECT_STREQ(info.serialNumber, "KEYB");
    EXPECT_EQ(calculate(token("KEYA01")), "status " + std::to_string(VN_ERR_TOKEN_NOT_FOUND));
}

TEST_F(Library, HotpMatchesRfc4226AppendixD)
{
    plugFastKey(m_tmp.path() / "keys", "K1");
    const OtpTokenRecord hotp =
        token("K101", VN_TYPE_HOTP, VN_HASH_SHA1, 6, 30, "12345678901234567890");
    ASSERT_EQ(VN_OTP_Personalize(hotp, nullptr, 0, 1), VN_OK);
    const char* expected[] = {"755224", "287082", "359152", "969429", "338314",
                              "254676", "287922", "162583", "399871", "520489"};
    for (int counter = 0; counter < 10; ++counter)
        EXPECT_EQ(calculate(hotp), expected[counter]) << "counter " << counter;
}

TEST_F(Library, TotpMatchesRfc6238AppendixB)
{
    plugFastKey(m_tmp.path() / "keys", "K1");
    const OtpTokenRecord sha1 =
        token("K101", VN_TYPE_TOTP, VN_HASH_SHA1, 8, 30, "12345678901234567890");
    const OtpTokenRecord sha256 =
        token("K102", VN_TYPE_TOTP, VN_HASH_SHA256, 8, 30, "12345678901234567890123456789012");
    ASSERT_EQ(VN_OTP_Personalize(sha1, nullptr, 0, 1), VN_OK);
    ASSERT_EQ(VN_OTP_Personalize(sha256, nullptr, 0, 1), VN_OK);
    struct Vector
    {
        int64_t time;
        const char* sha1;
        const char* sha256;
    };
    const Vector vectors[] = {
        {59, "94287082", "46119246"},         {1111111109, "07081804", "68084774"},
        {1111111111, "14050471", "67062674"}, {1234567890, "89005924", "91819424"},
        {2000000000, "69279037", "90698825"}, {20000000000, "65353130", "77737706"},
    };
    for (const Vector& v : vectors) {
        // The program sends local time; the key must read it back as local time.
        std::string challenge = localTimeText(v.time);
        SCOPED_TRACE(challenge);
        EXPECT_EQ(calculate(sha1, challenge), v.sha1);
        EXPECT_EQ(calculate(sha256, challenge), v.sha256);
    }
}

TEST_F(Library, SixtySecondStepsWithSixDigits)
{
    plugFastKey(m_tmp.path() / "keys", "K1");
    const OtpTokenRecord t60 =
        token("K101", VN_TYPE_TOTP, VN_HASH_SHA1, 6, 60, "12345678901234567890");
    ASSERT_EQ(VN_OTP_Personalize(t60, nullptr, 0, 1), VN_OK);
    // With 60 s steps, time t uses counter t / 60: the RFC 4226 values apply.
    EXPECT_EQ(calculate(t60, localTimeText(120)), "359152");
    EXPECT_EQ(calculate(t60, localTimeText(179)), "359152");
    EXPECT_EQ(calculate(t60, localTimeText(180)), "969429");
}
