// The key directory on disk: where it is, how key files are written and what
// they may hold, and the challenge text of TOTP.

#include "TestRecords.h"

#include "KeyState.h"
#include "KeyStore.h"
#include "Otp.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <array>
#include <future>
#include <optional>
#include <regex>

namespace fs = std::filesystem;
using Text = std::optional<std::string>;

namespace {

struct stat statOf(const fs::path& path)
{
    struct stat st = {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st;
}

// Sets (or with nullopt unsets) an environment variable for one scope.
class ScopedEnv
{
public:
    ScopedEnv(const char* name, const Text& value) : m_name(name)
    {
        if (const char* old = std::getenv(name))
            m_old = old;
        set(value);
    }
    ~ScopedEnv() { set(m_old); }

private:
    void set(const Text& value)
    {
        value ? ::setenv(m_name, value->c_str(), 1) : ::unsetenv(m_name);
    }
    const char* m_name;
    Text m_old;
};

} // namespace

TEST(KeyDirectory, ComesFromTheEnvironment)
{
    const std::array<Text, 4> cases[] = {
        // VN_KEY_DIR, XDG_STATE_HOME, HOME, the directory
        {"/k", "/s", "/h", "/k"},
        {std::nullopt, "/s", "/h", "/s/vnkey/keys"},
        {"", "/s", "/h", "/s/vnkey/keys"},
        {std::nullopt, std::nullopt, "/h", "/h/.local/state/vnkey/keys"},
        {std::nullopt, "", "/h", "/h/.local/state/vnkey/keys"},
        {std::nullopt, std::nullopt, std::nullopt, std::nullopt},
    };
    for (const auto& [keyDir, stateHome, home, expected] : cases) {
        ScopedEnv a("VN_KEY_DIR", keyDir), b("XDG_STATE_HOME", stateHome), c("HOME", home);
        const auto dir = vkey::keyDirFromEnvironment();
        EXPECT_EQ(dir ? Text(dir->string()) : Text(), expected);
        EXPECT_EQ(dir ? VN_OK : dir.error().status, expected ? VN_OK : VN_ERR_STORAGE);
    }
}

TEST(KeyDirectory, FirstUseBringsOnePluggedHardwareKeySavedForTheOwnerOnly)
{
    testrec::TempDir tmp;
    const fs::path dir = tmp.path() / "state" / "vnkey" / "keys";
    const mode_t oldMask = ::umask(0);
    const auto made = vkey::ensureKeyDir(dir);
    ASSERT_TRUE(made.has_value()) << made.error().what;
    vkey::KeyStore store(dir);
    const auto plugged = store.plugged();
    ASSERT_EQ(plugged.size(), 1u);
    EXPECT_EQ(store.keys(), plugged);
    EXPECT_TRUE(std::regex_match(plugged[0], std::regex("VT[0-9]{8}"))) << plugged[0];
    auto key = store.load(plugged[0]);
    ASSERT_TRUE(key.has_value());
    EXPECT_TRUE(key->hardwareAccess);
    EXPECT_EQ(key->touch.mode, vkey::TouchMode::Auto);
    EXPECT_EQ(key->touch.delayMs, 300);
    EXPECT_EQ(statOf(dir).st_mode & 0777, 0700u);
    const fs::path file = store.keyFile(plugged[0]);
    const ino_t created = statOf(file).st_ino;
    key->accessCode = "1234";
    ASSERT_TRUE(store.save(*key).has_value());
    ::umask(oldMask);
    EXPECT_EQ(statOf(file).st_mode & 0777, 0600u);
    EXPECT_NE(statOf(file).st_ino, created) << "a new file renamed into place, not rewritten";
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), {}), 2) << "the key, plugged/: no temp";
    const auto again = store.create(*key);
    ASSERT_FALSE(again.has_value()) << "create never replaces a key";
    EXPECT_EQ(again.error().status, VN_ERR_DUPLICATE_SERIAL);

    // An existing directory is never filled again, even without a plugged key.
    ASSERT_TRUE(store.unplug(plugged[0]).has_value());
    ASSERT_TRUE(vkey::ensureKeyDir(dir).has_value());
    EXPECT_TRUE(store.plugged().empty());
    EXPECT_EQ(store.keys().size(), 1u);
}

TEST(KeyDirectory, ProcessesRacingAtFirstUseEndWithOneKey)
{
    testrec::TempDir tmp;
    const fs::path dir = tmp.path() / "keys";
    std::vector<std::future<bool>> racers;
    for (int i = 0; i < 4; ++i)
        racers.push_back(std::async(std::launch::async, [&] { return !!vkey::ensureKeyDir(dir); }));
    for (auto& r : racers)
        EXPECT_TRUE(r.get());
    vkey::KeyStore store(dir);
    EXPECT_EQ(store.keys().size(), 1u);
    EXPECT_EQ(store.plugged().size(), 1u);
    EXPECT_EQ(std::distance(fs::directory_iterator(tmp.path()), {}), 1) << "losers' folders gone";
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
    key.tokens.push_back(
        {VN_TYPE_TOTP, VN_HASH_SHA256, 8, 60, allBytes, std::vector<uint8_t>(32, 0xA5), 7});
    key.pinRecord = vkey::Token{VN_TYPE_TOTP, VN_HASH_SHA1, 6, 30, "AAAA==", {'5', '0'}, 0};
    const auto back = vkey::fromJson(vkey::toJson(key));
    ASSERT_TRUE(back.has_value()) << back.error().what;
    EXPECT_EQ(*back, key);
}

TEST(KeyFile, DamagedContentIsCorrupt)
{
    testrec::TempDir tmp;
    vkey::KeyStore store(tmp.path());
    vkey::KeyState sound;
    sound.serial = "K1";
    sound.tokens.push_back({VN_TYPE_HOTP, VN_HASH_SHA1, 6, 30, "T1", std::vector<uint8_t>(20), 0});
    ASSERT_TRUE(store.create(sound).has_value());
    ASSERT_TRUE(store.load("K1").has_value());
    const std::string good = testrec::slurp(store.keyFile("K1"));
    const auto edited = [&](std::string_view from, std::string_view to) {
        std::string text = good;
        return text.replace(text.find(from), from.size(), to);
    };
    const std::pair<const char*, std::string> files[] = {
        {"empty file", ""},
        {"not JSON", "{ this is not json"},
        {"truncated", good.substr(0, good.size() / 2)},
        {"empty object", "{}"},
        {"another key's file", edited("\"K1\"", "\"K2\"")},
        {"7-digit token", edited("\"digits\": 6", "\"digits\": 7")},
        {"seed not hex", edited("\"seed\": \"00", "\"seed\": \"zz")},
        {"unknown touch mode", edited("\"auto\"", "\"sometimes\"")},
    };
    for (const auto& [name, content] : files) {
        std::ofstream(store.keyFile("K1"), std::ios::trunc) << content;
        const auto key = store.load("K1");
        EXPECT_EQ(key ? VN_OK : key.error().status, VN_ERR_CORRUPT_KEY) << name;
    }
}

TEST(TotpChallenge, IsLocalTimeInOneExactShape)
{
    ::setenv("TZ", "Europe/Berlin", 1);
    ::tzset();
    const std::pair<const char*, std::optional<int64_t>> cases[] = {
        {"1970-01-01 01:00:59", 59},           // winter: UTC+1
        {"2005-03-18 02:58:29", 1111111109},   // RFC 6238 vector, local time
        {"2024-07-01 14:00:00", 1719835200},   // summer: UTC+2
        {"2024-02-29 00:00:00", 1709161200},   // leap day
        {"2023-02-29 00:00:00", std::nullopt}, // no leap year
        {"2024-04-31 12:00:00", std::nullopt}, {"2024-13-01 12:00:00", std::nullopt},
        {"2024-05-01 24:00:00", std::nullopt}, {"2024-05-01 13:60:00", std::nullopt},
        {"2024-05-01 13:07", std::nullopt},    {"2024-05-01 13:07:55 ", std::nullopt},
        {"2024/05/01 13:07:55", std::nullopt}, {"2024-05-01T13:07:55", std::nullopt},
        {"2024-05-01 1a:07:55", std::nullopt}, {"", std::nullopt},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(vkey::parseLocalTime(text), expected) << text;
}
