// Serial numbers, seeds and their text forms, the proposed next serial
// number, and the seed files compared byte for byte with expected files.

#include "programming/NewToken.h"
#include "programming/SeedFiles.h"
#include "programming/SeedHandling.h"
#include "programming/SerialProposal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace {

std::vector<uint8_t> bytesOf(const std::string& text)
{
    return {text.begin(), text.end()};
}

bool isRandomSerial(const std::string& serial)
{
    return serial.size() == 13 && serial.starts_with("0000") &&
           serial.find_first_not_of("123456789", 4) == std::string::npos;
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
        ASSERT_TRUE(isRandomSerial(serial)) << serial;
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
        ASSERT_EQ(generate_seed(a.data(), length) + generate_seed(b.data(), length), 0);
        EXPECT_EQ(std::count(a.begin() + length, a.end(), 0xEE), 40 - length);
        EXPECT_FALSE(std::equal(a.begin(), a.begin() + length, b.begin()));
    }
    std::array<uint8_t, 2> bytes{0xAB, 0x01};
    EXPECT_EQ(generate_seed(bytes.data(), 0) + generate_seed(bytes.data(), -5), 0);
    EXPECT_EQ(to_hex_upper(bytes) + to_hex_lower(bytes), "AB01ab01"); // untouched, both forms
}

TEST(HexToBytes, AcceptsOnlyPairsOfHexDigitsWithinCapacity)
{
    // name, text, accepted, bytes decoded
    using Case = std::tuple<const char*, QString, bool, std::vector<uint8_t>>;
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
    for (const auto& [name, text, accepted, bytes] : cases) {
        std::array<uint8_t, 32> out{};
        std::size_t count = 999;
        EXPECT_EQ(hex_to_bytes(text, out.data(), out.size(), &count), accepted) << name;
        EXPECT_EQ(count, accepted ? bytes.size() : 999u) << name;
        EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), out.begin())) << name;
    }
}

TEST(Base32, MatchesTheRfc4648VectorsAndTheSeedLengths)
{
    // RFC 4648's vectors encode the prefixes of "foobar".
    const char* encoded[] = {
        "", "MY======", "MZXQ====", "MZXW6===", "MZXW6YQ=", "MZXW6YTB", "MZXW6YTBOI======"};
    for (std::size_t length = 0; length <= 6; ++length)
        EXPECT_EQ(base32_encode(bytesOf(std::string("foobar", length))), encoded[length]);
    // Seed lengths: 32 characters without padding, 56 ending in four '='.
    EXPECT_EQ(base32_encode(bytesOf("12345678901234567890")), "GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQ");
    EXPECT_EQ(base32_encode(bytesOf("12345678901234567890123456789012")),
              "GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQGEZA====");
}

std::vector<std::string> numbered(int from, int to, int skip = -1)
{
    std::vector<std::string> serials;
    for (int n = from; n <= to; ++n)
        if (n != skip)
            serials.push_back((n < 10 ? "K0" : "K") + std::to_string(n));
    return serials;
}

TEST(NextSerialNumber, FollowsTheHighestCountAndFillsGapsAfter99)
{
    auto withK150 = numbered(1, 99, 42);
    withK150.push_back("K150");
    // name, listed serial numbers, prefix, proposal ("": a fresh random serial number)
    using Case = std::tuple<const char*, std::vector<std::string>, std::string, std::string>;
    const std::vector<Case> cases = {
        {"no tokens yet", {}, "K", "K01"},
        {"after the highest", {"K01", "K02", "K07"}, "K", "K08"},
        {"digits stop at a letter", {"K05abc"}, "K", "K06"},
        {"leading blanks are skipped", {"K 3"}, "K", "K04"},
        {"all C white space", {"K\t\n\v\f\r12"}, "K", "K13"},
        {"plus sign", {"K+7"}, "K", "K08"},
        {"negative counts raise nothing", {"K-5"}, "K", "K01"},
        {"no digits after the prefix", {"Kx1", "K"}, "K", "K01"},
        {"other prefixes and case", {"J05", "k07", "XK09"}, "K", "K01"},
        {"shorter than the prefix", {"VK1"}, "VK100", "VK10001"},
        {"zero counts as nothing", {"K00"}, "K", "K01"},
        {"gap after 99", numbered(1, 99, 42), "K", "K42"},
        {"only K99 leaves 1 free", {"K99"}, "K", "K01"},
        {"all of 1 to 99", numbered(1, 99), "K", "K100"},
        {"above 99 the count continues", withK150, "K", "K151"},
        {"beyond 32 bits is not a count", {"K2147483648", "K05"}, "K", "K06"},
        {"far beyond 32 bits", {"K99999999999999999999999"}, "K", "K01"},
        {"key serial as prefix", {"VK100000101", "VK100000103"}, "VK1000001", "VK100000104"},
        {"top of the range", {"K2147483647"}, "K", ""},
        {"no key serial number", {"K01"}, "", ""},
    };
    for (const auto& [name, listed, prefix, expected] : cases) {
        const std::string proposal = next_serial_number(listed, prefix);
        EXPECT_TRUE(expected.empty() ? isRandomSerial(proposal) : proposal == expected)
            << name << ": " << proposal;
    }
}

const std::string kSeed20 = "12345678901234567890", kSeed32 = kSeed20 + "123456789012";
const std::vector<uint8_t> kSha1(kSeed20.begin(), kSeed20.end()),
    kSha256(kSeed32.begin(), kSeed32.end());
// The two tokens of each algorithm that the expected files hold.
using enum OtpAlgorithm;
using enum OtpHash;
const SeedFileToken kHotp1{Hotp, Sha1, 6, 30, "VK100000101", kSha1, ""};
const SeedFileToken kHotp2{Hotp, Sha256, 8, 60, "VK100000102", kSha256, "Ann & <Bob>"};
const SeedFileToken kTotp1{Totp, Sha1, 6, 60, "VK100000103", kSha1, ""};
const SeedFileToken kTotp2{Totp, Sha256, 8, 30, "VK100000104", kSha256, "ann@example.com"};

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}
QByteArray expected(const QString& name)
{
    return contents(QStringLiteral(PROGRAMMING_TEST_DATA "/") + name);
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// Programs the seed files the way Save does after the key accepted a token.
QString record(const QString& dir, const SeedFileToken& t)
{
    SeedDocument document = load_seed_document(t.algorithm, dir);
    return export_seed_files(document, dir, t);
}

TEST(SeedFiles, FirstAndSecondTokenOfEachAlgorithmMatchTheExpectedFiles)
{
    QTemporaryDir dir;
    ASSERT_EQ(record(dir.path(), kHotp1), "");
    EXPECT_EQ(contents(dir.filePath("hseeds.xml")), expected("hseeds-one.xml"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), (QStringList{"hseeds.csv", "hseeds.xml"}));

    for (const SeedFileToken& token : {kHotp2, kTotp1, kTotp2})
        ASSERT_EQ(record(dir.path(), token), "");
    // New seed files are their owner's alone, and no temporary file is left.
    const QStringList names = QDir(dir.path()).entryList(QDir::Files);
    EXPECT_EQ(names, (QStringList{"hseeds.csv", "hseeds.xml", "tseeds.csv", "tseeds.xml"}));
    for (const QString& name : names) {
        const QString path = dir.filePath(name);
        EXPECT_EQ(contents(path), expected(name.left(6) + "-two." + name.mid(7)));
        EXPECT_EQ(QFileInfo(path).permissions() & ~(QFileDevice::ReadUser | QFileDevice::WriteUser),
                  QFileDevice::ReadOwner | QFileDevice::WriteOwner)
            << name.toStdString();
    }
}

TEST(SeedFiles, AnExistingEmptyCsvGetsRowsWithoutHeader)
{
    QTemporaryDir dir;
    writeFile(dir.filePath("tseeds.csv"), {});
    ASSERT_EQ(record(dir.path(), kTotp1), "");
    ASSERT_EQ(record(dir.path(), kTotp2), "");
    EXPECT_EQ(contents(dir.filePath("tseeds.csv")), expected("tseeds-rows-only.csv"));
}

// A seed file that cannot take the token is left as it was and is named in
// the report, alone; the other file of the pair still gets the token.
TEST(SeedFileErrors, AFileThatCannotTakeTheTokenIsLeftAloneAndReported)
{
    const std::vector<std::pair<const char*, QByteArray>> cases = {
        {"hseeds.xml", "<?xml version=\"1.0\"?>\n<data>\n\t<tokens>\n\t\t<token>"}, // truncated
        {"hseeds.xml", "<?xml version=\"1.0\"?>\n<data><header/></data>\n"}, // no data/tokens
        {"hseeds.xml", ""},
        {"hseeds.csv", "<missing>"}, // a directory in its place
    };
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name + (": " + bytes.toStdString()));
        QTemporaryDir dir;
        const QString path = dir.filePath(name);
        const bool xml = path.endsWith(".xml");
        if (xml)
            writeFile(path, bytes);
        else
            ASSERT_TRUE(QDir(dir.path()).mkdir(name));
        const QString report = record(dir.path(), kHotp1);
        EXPECT_TRUE(report.startsWith("Failed to record the new token in " +
                                      QDir::toNativeSeparators(path) + ": "))
            << report.toStdString();
        EXPECT_TRUE(report.endsWith("\r\n") && report.count("\r\n") == 1);
        EXPECT_EQ(contents(path), bytes);
        EXPECT_EQ(contents(dir.filePath(xml ? "hseeds.csv" : "hseeds.xml")),
                  xml ? seed_csv_header(Hotp) + seed_csv_row(kHotp1) : expected("hseeds-one.xml"));
    }
}

// A disk that takes no byte: both writers report it.
class FullDisk final : public QIODevice
{
public:
    FullDisk() { open(WriteOnly); }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char*, qint64) override { return -1; }
};

TEST(SeedFiles, AFullDiskFailsBothWriters)
{
    FullDisk full;
    EXPECT_EQ(write_seed_csv_to(full, kTotp1, true), kCsvWriteFailed);
    QTemporaryDir dir;
    SeedDocument document = load_seed_document(Hotp, dir.path());
    EXPECT_FALSE(write_seed_xml_to(document, kHotp1, full).has_value());
}

} // namespace
