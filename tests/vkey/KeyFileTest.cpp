#include "TestRecords.h"

#include "KeyState.h"
#include "KeyStore.h"

#include <gtest/gtest.h>

#include <array>
#include <optional>

namespace fs = std::filesystem;
using Text = std::optional<std::string>;

TEST(KeyDirectory, ComesFromTheEnvironment)
{
    const std::array<Text, 4> cases[] = {
        // VN_KEY_DIR, XDG_STATE_HOME, HOME, the directory
        {"/k", "/s", "/h", "/k"},
        {"", "/s", "/h", "/s/vnkey/keys"},
        {std::nullopt, "", "/h", "/h/.local/state/vnkey/keys"},
        {std::nullopt, std::nullopt, std::nullopt, std::nullopt},
    };
    const char* names[] = {"VN_KEY_DIR", "XDG_STATE_HOME", "HOME"};
    std::array<Text, 3> saved;
    for (int i = 0; i < 3; ++i)
        if (const char* v = std::getenv(names[i]))
            saved[i] = v;
    const auto setAll = [&](const Text* values) {
        for (int i = 0; i < 3; ++i)
            values[i] ? ::setenv(names[i], values[i]->c_str(), 1) : ::unsetenv(names[i]);
    };
    for (const auto& c : cases) {
        setAll(c.data());
        const auto dir = vkey::keyDirFromEnvironment();
        EXPECT_EQ(dir ? Text(dir->string()) : Text(), c[3]);
        EXPECT_EQ(dir ? VN_OK : dir.error().status, c[3] ? VN_OK : VN_ERR_STORAGE);
    }
    setAll(saved.data());
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
    // Replaced, never rewritten in place: a reader of the old file sees it whole.
    fs::create_hard_link(store.keyFile("K1"), tmp.path() / "old");
    sound.tokens[0].counter = 5;
    ASSERT_TRUE(store.save(sound).has_value());
    EXPECT_EQ(testrec::slurp(tmp.path() / "old"), good);
    ASSERT_TRUE(store.load("K1").has_value() && store.load("K1")->tokens[0].counter == 5);
    const auto edited = [&](std::string_view from, std::string_view to) {
        std::string text = good;
        return text.replace(text.find(from), from.size(), to);
    };
    const std::pair<const char*, std::string> files[] = {
        {"truncated", good.substr(0, good.size() / 2)},
        {"another key's file", edited("\"K1\"", "\"K2\"")},
        {"7-digit token", edited("\"digits\": 6", "\"digits\": 7")},
        {"seed not hex", edited("\"seed\": \"00", "\"seed\": \"zz")},
    };
    for (const auto& [name, content] : files) {
        std::ofstream(store.keyFile("K1"), std::ios::trunc) << content;
        const auto key = store.load("K1");
        EXPECT_EQ(key ? VN_OK : key.error().status, VN_ERR_CORRUPT_KEY) << name;
    }
}
