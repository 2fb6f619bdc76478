// Serial numbers, hex, base32, the next serial number and the seed files.

#include "programming/NewToken.h"
#include "programming/SeedDirectory.h"
#include "programming/SeedFiles.h"
#include "programming/SeedHandling.h"
#include "programming/SerialProposal.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <array>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace {

bool isRandomSerial(const std::string& serial)
{
    return serial.size() == 13 && serial.starts_with("0000") &&
           serial.find_first_not_of("123456789", 4) == std::string::npos;
}

TEST(SerialNumber, IsFourZerosThenNineDigitsOneToNineWithoutTerminator)
{
    std::set<char> digits;
    for (int draw = 0; draw < 200; ++draw) {
        std::array<char, kSerialBufferSize> buffer{};
        buffer.back() = '#';
        generate_serial_number(buffer.data());
        ASSERT_EQ(buffer.back(), '#');
        const std::string serial(buffer.data(), kSerialNumberLength);
        ASSERT_TRUE(isRandomSerial(serial)) << serial;
        digits.insert(serial.begin() + 4, serial.end());
    }
    EXPECT_EQ(digits.size(), 9u);
}

TEST(HexToBytes, AcceptsOnlyPairsOfHexDigitsWithinCapacity)
{
    using Case = std::tuple<QString, bool, std::vector<uint8_t>>;
    const std::vector<Case> cases = {
        {QString(64, u'a'), true, std::vector<uint8_t>(32, 0xAA)},
        {QString(66, u'a'), false, {}},
        {QString(63, u'a'), false, {}},
        {"aBcD09Ff", true, {0xAB, 0xCD, 0x09, 0xFF}},
        {"", true, {}},
        {"12 34", false, {}},
        {"1g", false, {}},
        {QString::fromUtf8("\xEF\xBC\x91\xEF\xBC\x92"), false, {}}, // full-width digits
    };
    for (const auto& [text, accepted, bytes] : cases) {
        std::array<uint8_t, 32> out{};
        std::size_t count = 999;
        EXPECT_EQ(hex_to_bytes(text, out.data(), out.size(), &count), accepted)
            << text.toStdString();
        EXPECT_EQ(count, accepted ? bytes.size() : 999u) << text.toStdString();
        EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), out.begin())) << text.toStdString();
    }
}

TEST(Base32, MatchesTheRfc4648Vectors)
{
    const char* encoded[] = {
        "", "MY======", "MZXQ====", "MZXW6===", "MZXW6YQ=", "MZXW6YTB", "MZXW6YTBOI======"};
    for (std::size_t length = 0; length <= 6; ++length) {
        const std::string text("foobar", length);
        EXPECT_EQ(base32_encode({reinterpret_cast<const uint8_t*>(text.data()), text.size()}),
                  encoded[length]);
    }
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
    // listed serial numbers, prefix, proposal ("": a fresh random serial number)
    using Case = std::tuple<std::vector<std::string>, std::string, std::string>;
    const std::vector<Case> cases = {
        {{}, "K", "K01"},
        {{"K01", "K02", "K07"}, "K", "K08"},
        {{"K\t\n\v\f\r12"}, "K", "K13"},
        {{"K-5"}, "K", "K01"},
        {{"J05", "k07", "XK09", "Kx1"}, "K", "K01"},
        {{"VK1"}, "VK100", "VK10001"},
        {numbered(1, 99, 42), "K", "K42"},
        {numbered(1, 99), "K", "K100"},
        {withK150, "K", "K151"},
        {{"K2147483648", "K05"}, "K", "K06"},
        {{"K99999999999999999999999"}, "K", "K01"},
        {{"VK100000101", "VK100000103"}, "VK1000001", "VK100000104"},
        {{"K2147483647"}, "K", ""},
        {{"K01"}, "", ""},
    };
    for (const auto& [listed, prefix, expected] : cases) {
        const std::string proposal = next_serial_number(listed, prefix);
        EXPECT_TRUE(expected.empty() ? isRandomSerial(proposal) : proposal == expected)
            << (listed.empty() ? "" : listed.back()) << ": " << proposal;
    }
}

const std::string kSeed20 = "12345678901234567890", kSeed32 = kSeed20 + "123456789012";
const std::vector<uint8_t> kSha1(kSeed20.begin(), kSeed20.end()),
    kSha256(kSeed32.begin(), kSeed32.end());
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
    for (const SeedFileToken& token : {kHotp2, kTotp1, kTotp2})
        ASSERT_EQ(record(dir.path(), token), "");
    const QStringList names = QDir(dir.path()).entryList(QDir::Files);
    EXPECT_EQ(names, (QStringList{"hseeds.csv", "hseeds.xml", "tseeds.csv", "tseeds.xml"}));
    for (const QString& name : names)
        EXPECT_EQ(contents(dir.filePath(name)), expected(name.left(6) + "-two." + name.mid(7)))
            << name.toStdString();

    QTemporaryDir rowsOnly; // an existing empty CSV file gets no header
    writeFile(rowsOnly.filePath("tseeds.csv"), {});
    ASSERT_EQ(record(rowsOnly.path(), kTotp1), "");
    ASSERT_EQ(record(rowsOnly.path(), kTotp2), "");
    EXPECT_EQ(contents(rowsOnly.filePath("tseeds.csv")), expected("tseeds-rows-only.csv"));
}

// Unparseable XML is left as it was and named in the report; the CSV file still gets the token.
TEST(SeedFileErrors, UnparseableXmlIsLeftAloneAndReported)
{
    for (const QByteArray& bytes :
         {QByteArray("<?xml version=\"1.0\"?>\n<data>\n\t<tokens>\n\t\t<token>"),
          QByteArray("<?xml version=\"1.0\"?>\n<data><header/></data>\n")}) {
        SCOPED_TRACE(bytes.toStdString());
        QTemporaryDir dir;
        const QString path = dir.filePath("hseeds.xml");
        writeFile(path, bytes);
        const QString report = record(dir.path(), kHotp1);
        EXPECT_TRUE(report.startsWith("Failed to record the new token in " +
                                      QDir::toNativeSeparators(path) + ": "))
            << report.toStdString();
        EXPECT_TRUE(report.endsWith("\r\n") && report.count("\r\n") == 1);
        EXPECT_EQ(contents(path), bytes);
        EXPECT_EQ(contents(dir.filePath("hseeds.csv")),
                  seed_csv_header(Hotp) + seed_csv_row(kHotp1));
    }
}

// The seed folder: the override, then the program's own folder when writable, then XDG.
TEST(SeedDirectory, OverrideThenWritableProgramFolderThenXdgDataHome)
{
    struct Case
    {
        const char* name;
        QString overrideDir, xdgDataHome;
        bool programFolderWritable;
        QString expected;
    };
    const Case cases[] = {
        {"override wins over a writable program folder", "/srv/seeds/", "", true, "/srv/seeds"},
        {"override wins over XDG", "/srv/seeds", "/x/data", false, "/srv/seeds"},
        {"writable program folder (build tree)", "", "/x/data", true, "/opt/vnotp/bin"},
        {"read-only program folder: XDG_DATA_HOME", "", "/x/data", false, "/x/data/vnotp"},
        {"XDG_DATA_HOME unset", "", "", false, "/home/ann/.local/share/vnotp"},
        {"relative XDG_DATA_HOME is ignored", "", "data", false, "/home/ann/.local/share/vnotp"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QStringList asked;
        const SeedDirectoryInputs inputs{.overrideDir = c.overrideDir,
                                         .executableDir = "/opt/vnotp/bin",
                                         .xdgDataHome = c.xdgDataHome,
                                         .home = "/home/ann",
                                         .isWritable = [&](const QString& dir) {
                                             asked << dir;
                                             return c.programFolderWritable;
                                         }};
        EXPECT_EQ(choose_seed_directory(inputs), c.expected);
        // The program folder is looked at only when there is no override.
        EXPECT_EQ(asked, c.overrideDir.isEmpty() ? QStringList{"/opt/vnotp/bin"} : QStringList{});
    }
}

} // namespace
