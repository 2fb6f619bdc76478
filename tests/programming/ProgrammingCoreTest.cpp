// Serial numbers, hex, base32, the next serial number and the seed files.

#include "programming/NewToken.h"
#include "programming/SeedDirectory.h"
#include "programming/SeedFiles.h"
#include "programming/SeedHandling.h"
#include "programming/SerialProposal.h"
#include "support/FileSizeLimit.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <numeric>
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
    kSha256(kSeed32.begin(), kSeed32.end()), kLettered = [] {
        std::vector<uint8_t> seed(32); // hex A0A1...BF: the case of the letters shows
        std::iota(seed.begin(), seed.end(), uint8_t{0xA0});
        return seed;
    }();
using enum OtpAlgorithm;
using enum OtpHash;
const SeedFileToken kHotp1{Hotp, Sha1, 6, 30, "VK100000101", kSha1, ""};
const SeedFileToken kHotp2{Hotp, Sha256, 8, 60, "VK100000102", kLettered, "Ann & <Bob>"};
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
mode_t modeOf(const QString& path)
{
    struct stat st;
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

QString record(const QString& dir, const SeedFileToken& t)
{
    return export_seed_files(dir, t);
}

TEST(SeedFiles, FirstAndSecondTokenOfEachAlgorithmMatchTheExpectedFiles)
{
    const mode_t oldMask = ::umask(022);
    QTemporaryDir dir;
    ASSERT_EQ(record(dir.path(), kHotp1), "");
    EXPECT_EQ(contents(dir.filePath("hseeds.xml")), expected("hseeds-one.xml"));
    // The XML file is replaced, not rewritten: a hard link keeps the old tokens.
    const QString oldXml = dir.filePath("hseeds-old.xml");
    ASSERT_EQ(::link(QFile::encodeName(dir.filePath("hseeds.xml")), QFile::encodeName(oldXml)), 0);
    for (const SeedFileToken& token : {kHotp2, kTotp1, kTotp2})
        ASSERT_EQ(record(dir.path(), token), "");
    ::umask(oldMask);
    EXPECT_EQ(contents(oldXml), expected("hseeds-one.xml"));
    ASSERT_TRUE(QFile::remove(oldXml));
    const QStringList names = QDir(dir.path()).entryList(QDir::Files);
    EXPECT_EQ(names, (QStringList{"hseeds.csv", "hseeds.xml", "tseeds.csv", "tseeds.xml"}));
    for (const QString& name : names) {
        EXPECT_EQ(contents(dir.filePath(name)), expected(name.left(6) + "-two." + name.mid(7)))
            << name.toStdString();
        EXPECT_EQ(modeOf(dir.filePath(name)), 0600u) << name.toStdString();
    }

    QTemporaryDir rowsOnly; // an existing empty CSV file gets no header
    writeFile(rowsOnly.filePath("tseeds.csv"), {});
    ASSERT_EQ(record(rowsOnly.path(), kTotp1), "");
    ASSERT_EQ(record(rowsOnly.path(), kTotp2), "");
    EXPECT_EQ(contents(rowsOnly.filePath("tseeds.csv")), expected("tseeds-rows-only.csv"));
}

// An empty XML file is as good as none; anything else that does not parse is
// left as it was and named in the report. The CSV file gets the token either way.
TEST(SeedFileErrors, EmptyXmlGetsTheTemplateUnparseableXmlIsLeftAloneAndReported)
{
    for (const QByteArray& bytes :
         {QByteArray(), QByteArray("<?xml version=\"1.0\"?>\n<data>\n\t<tokens>\n\t\t<token>"),
          QByteArray("<?xml version=\"1.0\"?>\n<data><header/></data>\n")}) {
        SCOPED_TRACE(bytes.toStdString());
        QTemporaryDir dir;
        const QString path = dir.filePath("hseeds.xml");
        writeFile(path, bytes);
        const QString report = record(dir.path(), kHotp1);
        if (bytes.isEmpty()) {
            EXPECT_EQ(report, "");
            EXPECT_EQ(contents(path), expected("hseeds-one.xml"));
            EXPECT_EQ(modeOf(path), 0600u);
        } else {
            EXPECT_TRUE(report.startsWith("Failed to record the new token in " +
                                          QDir::toNativeSeparators(path) + ": "))
                << report.toStdString();
            EXPECT_TRUE(report.endsWith("\r\n") && report.count("\r\n") == 1);
            EXPECT_EQ(contents(path), bytes);
        }
        EXPECT_EQ(contents(dir.filePath("hseeds.csv")),
                  seed_csv_header(Hotp) + seed_csv_row(kHotp1));
    }
}

// Two processes record at once; the lock keeps either from dropping the other's tokens.
TEST(SeedFileWriters, ConcurrentWritersLoseNoToken)
{
    constexpr int kEach = 25;
    QTemporaryDir dir;
    auto recordMany = [&](char prefix) {
        bool recorded = true;
        for (int n = 0; n < kEach; ++n) {
            SeedFileToken token = kHotp1;
            token.serial = prefix + std::to_string(n);
            recorded = record(dir.path(), token).isEmpty() && recorded;
        }
        return recorded;
    };
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        ::_exit(recordMany('C') ? 0 : 1);
    EXPECT_TRUE(recordMany('P'));
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(contents(dir.filePath("hseeds.xml")).count("<token>"), 2 * kEach);
    EXPECT_EQ(contents(dir.filePath("hseeds.csv")).count(QByteArray("\r\0\n\0", 4)), 1 + 2 * kEach);
}

// Fails writing after `budget` bytes, as a full disk does.
class FailingFile : public QFile
{
public:
    FailingFile(const QString& path, qint64 budget) : QFile(path), m_budget(budget) {}

protected:
    qint64 writeData(const char* data, qint64 length) override
    {
        const qint64 written = QFile::writeData(data, std::min(length, m_budget));
        m_budget -= written;
        return written > 0 ? written : -1;
    }

private:
    qint64 m_budget;
};

// A failed append leaves the CSV file as it was, never half a UTF-16 row.
TEST(SeedFileErrors, FailedCsvAppendLeavesTheFileAsItWas)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("tseeds.csv");
    ASSERT_EQ(write_seed_csv(path, kTotp1), kCsvWritten);
    const QByteArray before = contents(path);
    for (qint64 budget : {qint64{0}, qint64{1}, qint64{3}, seed_csv_row(kTotp2).size() - 1}) {
        SCOPED_TRACE(budget);
        FailingFile file(path, budget);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered));
        QString error;
        EXPECT_EQ(write_seed_csv_to(file, kTotp2, false, &error), kCsvWriteFailed);
        EXPECT_FALSE(error.isEmpty());
        file.close();
        EXPECT_EQ(contents(path), before);
    }
}

// A disk that fills part-way: at any size limit from nothing to more than the
// new files need, each seed file is as it was or complete, and exactly the
// files left as they were are reported.
TEST(SeedFileErrors, AFileSizeLimitLeavesEachFileAsItWasOrComplete)
{
    for (bool firstToken : {true, false}) {
        QTemporaryDir grown;
        if (!firstToken) {
            ASSERT_EQ(record(grown.path(), kHotp1), "");
        }
        const QByteArray oldXml = contents(grown.filePath("hseeds.xml"));
        const QByteArray oldCsv = contents(grown.filePath("hseeds.csv"));
        ASSERT_EQ(record(grown.path(), kHotp2), "");
        const QByteArray newXml = contents(grown.filePath("hseeds.xml"));
        const QByteArray newCsv = contents(grown.filePath("hseeds.csv"));

        // Every byte near the old and new sizes (a UTF-16 unit split or not),
        // and an odd stride between them.
        std::set<qint64> limits;
        for (qint64 size : {qint64{0}, oldXml.size(), oldCsv.size(), newXml.size(), newCsv.size()})
            for (qint64 near = std::max<qint64>(size - 8, 0); near <= size + 8; ++near)
                limits.insert(near);
        for (qint64 limit = 0; limit < newXml.size(); limit += 7)
            limits.insert(limit);
        for (qint64 limit : limits) {
            SCOPED_TRACE(testing::Message() << "first " << firstToken << ", limit " << limit);
            QTemporaryDir dir;
            if (!firstToken) {
                writeFile(dir.filePath("hseeds.xml"), oldXml);
                writeFile(dir.filePath("hseeds.csv"), oldCsv);
            }
            QString report;
            {
                FileSizeLimit full(static_cast<rlim_t>(limit));
                report = record(dir.path(), kHotp2);
            }
            const bool xmlFits = limit >= newXml.size(), csvFits = limit >= newCsv.size();
            ASSERT_EQ(contents(dir.filePath("hseeds.xml")), xmlFits ? newXml : oldXml);
            ASSERT_EQ(contents(dir.filePath("hseeds.csv")), csvFits ? newCsv : oldCsv);
            ASSERT_EQ(report.count("hseeds.xml: "), xmlFits ? 0 : 1) << report.toStdString();
            ASSERT_EQ(report.count("hseeds.csv: "), csvFits ? 0 : 1) << report.toStdString();
        }
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
