// The key directory on disk: where it is, how key files are written, what
// they may contain, and the challenge text of TOTP.

#include "TestRecords.h"

#include "KeyState.h"
#include "KeyStore.h"
#include "Otp.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <ctime>
#include <future>
#include <optional>
#include <regex>

namespace fs = std::filesystem;

namespace {

mode_t modeOf(const fs::path& path)
{
    struct stat st
    {
    };
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 0777;
}

// Sets (or with nullopt unsets) an environment variable for one scope.
class ScopedEnv
{
public:
    ScopedEnv(const char* name, std::optional<std::string> value) : m_name(name)
    {
        if (const char* old = std::getenv(name))
            m_old = old;
        if (value)
            ::setenv(name, value->c_str(), 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (m_old)
            ::setenv(m_name, m_old->c_str(), 1);
        else
            ::unsetenv(m_name);
    }

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

} // namespace

TEST(KeyDirectory, ComesFromTheEnvironment)
{
    struct Case
    {
        std::optional<std::string> keyDir, stateHome, home;
        std::optional<std::string> expected;
    };
    const std::vector<Case> cases = {
        {"/k", "/s", "/h", "/k"},
        {std::nullopt, "/s", "/h", "/s/vnkey/keys"},
        {"", "/s", "/h", "/s/vnkey/keys"},
        {std::nullopt, std::nullopt, "/h", "/h/.local/state/vnkey/keys"},
        {std::nullopt, "", "/h", "/h/.local/state/vnkey/keys"},
        {std::nullopt, std::nullopt, std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        ScopedEnv a("VN_KEY_DIR", c.keyDir), b("XDG_STATE_HOME", c.stateHome), h("HOME", c.home);
        auto dir = vkey::keyDirFromEnvironment();
        if (c.expected) {
            ASSERT_TRUE(dir.has_value()) << *c.expected;
            EXPECT_EQ(dir->string(), *c.expected);
        } else {
            ASSERT_FALSE(dir.has_value());
            EXPECT_EQ(dir.error().status, VN_ERR_STORAGE);
        }
    }
}

TEST(KeyDirectory, FirstUseBringsOnePluggedHardwareKey)
{
    testrec::TempDir tmp;
    fs::path dir = tmp.path() / "state" / "vnkey" / "keys";
    mode_t oldMask = ::umask(0);
    auto made = vkey::ensureKeyDir(dir);
    ::umask(oldMask);
    ASSERT_TRUE(made.has_value()) << made.error().what;

    vkey::KeyStore store(dir);
    auto plugged = store.plugged();
    ASSERT_EQ(plugged.size(), 1u);
    EXPECT_EQ(store.keys(), plugged);
    EXPECT_TRUE(std::regex_match(plugged[0], std::regex("VT[0-9]{8}"))) << plugged[0];
    auto key = store.load(plugged[0]);
    ASSERT_TRUE(key.has_value());
    EXPECT_TRUE(key->hardwareAccess);
    EXPECT_EQ(key->touch.mode, vkey::TouchMode::Auto);
    EXPECT_EQ(key->touch.delayMs, 300);
    EXPECT_EQ(modeOf(dir), 0700u);
    EXPECT_EQ(modeOf(store.keyFile(plugged[0])), 0600u);

    // An existing directory is never filled again, even when empty.
    ASSERT_TRUE(store.unplug(plugged[0]).has_value());
    ASSERT_TRUE(vkey::ensureKeyDir(dir).has_value());
    EXPECT_TRUE(store.plugged().empty());
    EXPECT_EQ(store.keys().size(), 1u);
}

TEST(KeyDirectory, ProcessesRacingAtFirstUseEndWithOneKey)
{
    testrec::TempDir tmp;
    fs::path dir = tmp.path() / "keys";
    std::vector<std::future<bool>> racers;
    for (int i = 0; i < 4; ++i)
        racers.push_back(
            std::async(std::launch::async, [&] { return vkey::ensureKeyDir(dir).has_value(); }));
    for (auto& r : racers)
        EXPECT_TRUE(r.get());
    vkey::KeyStore store(dir);
    EXPECT_EQ(store.keys().size(), 1u);
    EXPECT_EQ(store.plugged().size(), 1u);
    std::size_t entries = std::distance(fs::directory_iterator(tmp.path()), {});
    EXPECT_EQ(entries, 1u) << "the losers' half-built directories are gone";
}

TEST(KeyFile, SavesAreOwnerOnlyAndReplaceTheFileWhole)
{
    testrec::TempDir tmp;
    vkey::KeyStore store(tmp.path());
    vkey::KeyState key;
    key.serial = "K1";
    mode_t oldMask = ::umask(0);
    ASSERT_TRUE(store.create(key).has_value());
    struct stat first
    {
    };
    ::stat(store.keyFile("K1").c_str(), &first);
    key.accessCode = "1234";
    ASSERT_TRUE(store.save(key).has_value());
    ::umask(oldMask);
    struct stat second
    {
    };
    ::stat(store.keyFile("K1").c_str(), &second);
    EXPECT_EQ(second.st_mode & 0777, 0600u);
    EXPECT_NE(first.st_ino, second.st_ino) << "a new file renamed into place, not rewritten";
    std::size_t entries = std::distance(fs::directory_iterator(tmp.path()), {});
    EXPECT_EQ(entries, 1u) << "K1.json alone, no temporary files";

    // create never replaces a key, damaged or not.
    auto again = store.create(key);
    ASSERT_FALSE(again.has_value());
    EXPECT_EQ(again.error().status, VN_ERR_DUPLICATE_SERIAL);
}

TEST(KeyFile, EveryByteOfSerialsAndCodesSurvivesTheFile)
{
    std::string allBytes;
    for (int b = 1; b < 64; ++b)
        allBytes.push_back(static_cast<char>(b * 4 - 1)); // 0x03 .. 0xFB, high bytes included
    vkey::KeyState key;
    key.serial = "K1";
    key.accessCode = "p\xE4ss\xFF\x01";
    key.touch = {vkey::TouchMode::Manual, 0, 1500};
    vkey::Token t{VN_TYPE_TOTP, VN_HASH_SHA256, 8, 60, allBytes, std::vector<uint8_t>(32, 0xA5), 0};
    key.tokens.push_back(t);
    vkey::Token pin{VN_TYPE_TOTP, VN_HASH_SHA1, 6, 30, "AAAA==", {'5', '0'}, 0};
    key.pinRecord = pin;

    auto back = vkey::fromJson(vkey::toJson(key));
    ASSERT_TRUE(back.has_value()) << back.error().what;
    EXPECT_EQ(*back, key);
}

TEST(TotpChallenge, IsLocalTimeInOneExactShape)
{
    ::setenv("TZ", "Europe/Berlin", 1);
    ::tzset();
    const std::vector<std::pair<const char*, std::optional<int64_t>>> cases = {
        {"1970-01-01 01:00:59", 59},           // winter: UTC+1
        {"2005-03-18 02:58:29", 1111111109},   // RFC 6238 vector, local time
        {"2024-07-01 14:00:00", 1719835200},   // summer: UTC+2
        {"2024-02-29 00:00:00", 1709161200},   // leap day
        {"2023-02-29 00:00:00", std::nullopt}, // no leap year
        {"2024-04-31 12:00:00", std::nullopt},
        {"2024-13-01 12:00:00", std::nullopt},
        {"2024-05-01 24:00:00", std::nullopt},
        {"2024-05-01 13:60:00", std::nullopt},
        {"2024-05-01 13:07", std::nullopt},
        {"2024-05-01 13:07:55 ", std::nullopt},
        {"2024/05/01 13:07:55", std::nullopt},
        {"2024-05-01 1a:07:55", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(vkey::parseLocalTime(text), expected) << text;
}
