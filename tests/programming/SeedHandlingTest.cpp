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
    std::set<char> digitsSeen;
    std::set<std::string> serials;
    for (int draw = 0; draw < 500; ++draw) {
        std::array<char, kSerialBufferSize> buffer{};
        buffer.back() = '#'; // the generator must not write the terminator
        ASSERT_EQ(generate_serial_number(buffer.data()), 0);
        ASSERT_EQ(buffer.back(), '#');
        const std::string serial(buffer.data(), kSerialNumberLength);
        ASSERT_EQ(serial.substr(0, 4), "0000") << serial;
        for (char c : serial.substr(4)) {
            ASSERT_TRUE(c >= '1' && c <= '9') << serial;
            digitsSeen.insert(c);
        }
        serials.insert(serial);
    }
    EXPECT_EQ(digitsSeen.size(), 9u) << "every digit 1..9 is reachable";
    EXPECT_GT(serials.size(), 490u) << "each call draws afresh";
}

TEST(Seed, FillsExactlyTheRequestedLengthAndDiffersPerDraw)
{
    for (int length : {20, 32}) {
        std::array<uint8_t, 40> first{}, second{};
        first.fill(0xEE);
        second.fill(0xEE);
        ASSERT_EQ(generate_seed(first.data(), length), 0);
        ASSERT_EQ(generate_seed(second.data(), length), 0);
        EXPECT_TRUE(std::all_of(first.begin() + length, first.end(), [](uint8_t b) { return b == 0xEE; }))
            << "length " << length;
        EXPECT_FALSE(std::equal(first.begin(), first.begin() + length, second.begin()));
        EXPECT_EQ(to_hex_upper({first.data(), static_cast<std::size_t>(length)}).size(),
                  static_cast<std::size_t>(2 * length));
    }
    std::array<uint8_t, 4> untouched{1, 2, 3, 4};
    EXPECT_EQ(generate_seed(untouched.data(), 0), 0);
    EXPECT_EQ(generate_seed(untouched.data(), -5), 0);
    EXPECT_EQ(untouched, (std::array<uint8_t, 4>{1, 2, 3, 4}));
}

TEST(HexForms, UpperForTheDialogLowerForTheHotpCsv)
{
    const std::vector<uint8_t> bytes{0x00, 0x0F, 0xA5, 0xFF};
    EXPECT_EQ(to_hex_upper(bytes), "000FA5FF");
    EXPECT_EQ(to_hex_lower(bytes), "000fa5ff");
}

struct HexCase
{
    const char* name;
    QString text;
    bool accepted;
    std::vector<uint8_t> bytes; // expected output when accepted
};

TEST(HexToBytes, AcceptsOnlyPairsOfHexDigitsWithinCapacity)
{
    const QString digits64 = QString(64, u'a');
    const std::vector<HexCase> cases = {
        {"64 digits fill the 32 bytes", digits64, true, std::vector<uint8_t>(32, 0xAA)},
        {"66 digits are one byte too many", QString(66, u'a'), false, {}},
        {"63 digits are an odd count", QString(63, u'a'), false, {}},
        {"mixed case decodes alike", "aBcD09Ff", true, {0xAB, 0xCD, 0x09, 0xFF}},
        {"empty text is zero bytes", "", true, {}},
        {"0x prefix", "0x12", false, {}},
        {"space between pairs", "12 34", false, {}},
        {"letter after f", "1g", false, {}},
        {"full-width digits", QString::fromUtf8("\xEF\xBC\x91\xEF\xBC\x92"), false, {}},
        {"trailing blank", "1234 ", false, {}},
    };
    for (const HexCase& c : cases) {
        std::array<uint8_t, 32> out{};
        std::size_t count = 999;
        const bool ok = hex_to_bytes(c.text, out.data(), out.size(), &count);
        EXPECT_EQ(ok, c.accepted) << c.name;
        if (ok) {
            EXPECT_EQ(count, c.bytes.size()) << c.name;
            EXPECT_TRUE(std::equal(c.bytes.begin(), c.bytes.end(), out.begin())) << c.name;
        } else {
            EXPECT_EQ(count, 999u) << c.name << ": the count is left alone on failure";
        }
    }
}

TEST(HexToBytes, KeepsPairsDecodedBeforeABadOne)
{
    std::array<uint8_t, 4> out{};
    std::size_t count = 0;
    EXPECT_FALSE(hex_to_bytes("12zz", out.data(), out.size(), &count));
    EXPECT_EQ(out[0], 0x12);
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
}

TEST(Base32, SeedLengthsGiveTheCsvForms)
{
    // The RFC 6238 test secrets, whose base32 forms authenticator apps use.
    EXPECT_EQ(base32_encode(bytesOf("12345678901234567890")), "GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQ");
    const std::string sha256 = base32_encode(bytesOf("12345678901234567890123456789012"));
    EXPECT_EQ(sha256.size(), 56u);
    EXPECT_EQ(sha256.substr(52), "====");
    EXPECT_EQ(sha256.find('='), 52u);

    std::array<char, 60> out{};
    out.fill('#');
    const auto seed = bytesOf("12345678901234567890");
    base32_encode(seed.data(), seed.size(), out.data());
    EXPECT_EQ(out[32], '#') << "no terminator is written";
}

} // namespace
