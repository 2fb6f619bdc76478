#include "programming/SeedHandling.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <set>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> bytesOf(const std::string& text)
{
    return {text.begin(), text.end()};
}

TEST(SerialNumber, IsFourZerosThenNineDigitsOneToNineWithoutTerminator)
{
    std::set<char> digits;
    std::set<std::string> serials;
    for (int draw = 0; draw < 500; ++draw) {
        std::array<char, kSerialBufferSize> buffer{};
        buffer.back() = '#'; // the caller's terminator position stays untouched
        generate_serial_number(buffer.data());
        ASSERT_EQ(buffer.back(), '#');
        const std::string serial(buffer.data(), kSerialNumberLength);
        ASSERT_EQ(serial.find_first_not_of("123456789", 4), std::string::npos) << serial;
        ASSERT_TRUE(serial.starts_with("0000")) << serial;
        digits.insert(serial.begin() + 4, serial.end());
        serials.insert(serial);
    }
    EXPECT_EQ(digits.size(), 9u) << "every digit 1..9 is reachable";
    EXPECT_GT(serials.size(), 490u) << "each call draws afresh";
}

TEST(Seed, FillsExactlyTheRequestedLengthAndDiffersPerDraw)
{
    for (int length : {20, 32}) {
        std::array<uint8_t, 40> a{}, b{};
        a.fill(0xEE);
        ASSERT_EQ(generate_seed(a.data(), length), 0);
        ASSERT_EQ(generate_seed(b.data(), length), 0);
        EXPECT_EQ(std::count(a.begin() + length, a.end(), 0xEE), 40 - length);
        EXPECT_FALSE(std::equal(a.begin(), a.begin() + length, b.begin()));
        EXPECT_EQ(
            to_hex_upper({a.data(), std::size_t(length)}).find_first_not_of("0123456789ABCDEF"),
            std::string::npos);
    }
    std::array<uint8_t, 2> untouched{1, 2};
    EXPECT_EQ(generate_seed(untouched.data(), 0) + generate_seed(untouched.data(), -5), 0);
    EXPECT_EQ(untouched, (std::array<uint8_t, 2>{1, 2}));
}

TEST(HexToBytes, AcceptsOnlyPairsOfHexDigitsWithinCapacity)
{
    struct Case
    {
        const char* name;
        QString text;
        bool accepted;
        std::vector<uint8_t> bytes;
    };
    const std::vector<Case> cases = {
        {"64 digits fill the 32 bytes", QString(64, u'a'), true, std::vector<uint8_t>(32, 0xAA)},
        {"66 digits are too many", QString(66, u'a'), false, {}},
        {"63 digits are an odd count", QString(63, u'a'), false, {}},
        {"cases decode alike", "aBcD09Ff", true, {0xAB, 0xCD, 0x09, 0xFF}},
        {"empty text is zero bytes", "", true, {}},
        {"0x prefix", "0x12", false, {}},
        {"space between pairs", "12 34", false, {}},
        {"trailing blank", "1234 ", false, {}},
        {"letter after f", "1g", false, {}},
        {"full-width digits", QString::fromUtf8("\xEF\xBC\x91\xEF\xBC\x92"), false, {}},
    };
    for (const Case& c : cases) {
        std::array<uint8_t, 32> out{};
        std::size_t count = 999;
        EXPECT_EQ(hex_to_bytes(c.text, out.data(), out.size(), &count), c.accepted) << c.name;
        EXPECT_EQ(count, c.accepted ? c.bytes.size() : 999u) << c.name;
        EXPECT_TRUE(std::equal(c.bytes.begin(), c.bytes.end(), out.begin())) << c.name;
    }
}

TEST(Base32, MatchesTheRfc4648Vectors)
{
    const std::vector<std::pair<std::string, std::string>> vectors = {
        {"", ""},
        {"f", "MY======"},
        {"fo", "MZXQ===="},
        {"foo", "MZXW6==="},
        {"foob", "MZXW6YQ="},
        {"fooba", "MZXW6YTB"},
        {"foobar", "MZXW6YTBOI======"},
    };
    for (const auto& [input, expected] : vectors)
        EXPECT_EQ(base32_encode(bytesOf(input)), expected) << '"' << input << '"';
    // Seed lengths: 32 characters without padding, 56 ending in four '='.
    EXPECT_EQ(base32_encode(bytesOf("12345678901234567890")), "GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQ");
    EXPECT_EQ(base32_encode(bytesOf("12345678901234567890123456789012")),
              "GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQGEZA====");
}

} // namespace
