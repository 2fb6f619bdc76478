#include "programming/SeedFiles.h"
#include "programming/NewToken.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kSeed20 = "12345678901234567890";
const std::string kSeed32 = "12345678901234567890123456789012";

SeedFileToken token(OtpAlgorithm algorithm, OtpHash hash, int digits, int interval,
                    const char* serial, const QString& userName)
{
    const std::string& seed = hash == OtpHash::Sha1 ? kSeed20 : kSeed32;
    return {algorithm, hash, digits, interval, serial, {seed.begin(), seed.end()}, userName};
}

// The two tokens of each algorithm that the expected files hold.
const SeedFileToken kHotp1 = token(OtpAlgorithm::Hotp, OtpHash::Sha1, 6, 30, "VK100000101", "");
const SeedFileToken kHotp2 =
    token(OtpAlgorithm::Hotp, OtpHash::Sha256, 8, 60, "VK100000102", "Ann & <Bob>");
const SeedFileToken kTotp1 = token(OtpAlgorithm::Totp, OtpHash::Sha1, 6, 60, "VK100000103", "");
const SeedFileToken kTotp2 =
    token(OtpAlgorithm::Totp, OtpHash::Sha256, 8, 30, "VK100000104", "ann@example.com");

QByteArray expected(const char* name)
{
    QFile file(QStringLiteral(PROGRAMMING_TEST_DATA "/") + QLatin1String(name));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    return file.readAll();
}

// The first `count` CRLF-ended lines of UTF-16LE text.
QByteArray firstLines(const QByteArray& utf16, int count)
{
    const QByteArray crlf("\r\0\n\0", 4);
    qsizetype end = 0;
    for (int i = 0; i < count; ++i)
        end = utf16.indexOf(crlf, end) + crlf.size();
    return utf16.left(end);
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
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

class SeedFiles : public ::testing::Test
{
protected:
    QString path(const char* name) const { return m_dir.filePath(QLatin1String(name)); }
    QTemporaryDir m_dir;
};

TEST_F(SeedFiles, FirstAndSecondTokenOfEachAlgorithmMatchTheExpectedFiles)
{
    ASSERT_EQ(record(m_dir.path(), kHotp1), "");
    EXPECT_EQ(contents(path("hseeds.xml")), expected("hseeds-one.xml"));
    EXPECT_FALSE(QFileInfo::exists(path("tseeds.xml")));
    EXPECT_FALSE(QFileInfo::exists(path("tseeds.csv")));

    ASSERT_EQ(record(m_dir.path(), kHotp2), "");
    ASSERT_EQ(record(m_dir.path(), kTotp1), "");
    ASSERT_EQ(record(m_dir.path(), kTotp2), "");
    EXPECT_EQ(contents(path("hseeds.xml")), expected("hseeds-two.xml"));
    EXPECT_EQ(contents(path("hseeds.csv")), expected("hseeds-two.csv"));
    EXPECT_EQ(contents(path("tseeds.xml")), expected("tseeds-two.xml"));
    EXPECT_EQ(contents(path("tseeds.csv")), expected("tseeds-two.csv"));

    // New seed files are their owner's alone, and no temporary file is left.
    const QStringList names = QDir(m_dir.path()).entryList(QDir::Files);
    EXPECT_EQ(names.size(), 4);
    const auto userAliases = QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser;
    for (const QString& name : names)
        EXPECT_EQ(QFileInfo(m_dir.filePath(name)).permissions() & ~userAliases,
                  QFileDevice::ReadOwner | QFileDevice::WriteOwner)
            << name.toStdString();
}

TEST_F(SeedFiles, AnExistingEmptyCsvGetsRowsWithoutHeader)
{
    writeFile(path("tseeds.csv"), {});
    ASSERT_EQ(record(m_dir.path(), kTotp1), "");
    ASSERT_EQ(record(m_dir.path(), kTotp2), "");
    EXPECT_EQ(contents(path("tseeds.csv")), expected("tseeds-rows-only.csv"));
}

TEST_F(SeedFiles, AnXmlFileThatIsNotASeedDocumentIsLeftUntouchedAndReported)
{
    const std::vector<std::pair<const char*, QByteArray>> cases = {
        {"truncated", "<?xml version=\"1.0\"?>\n<data>\n\t<tokens>\n\t\t<token>"},
        {"no data/tokens", "<?xml version=\"1.0\"?>\n<data><header/></data>\n"},
        {"empty", ""},
    };
    for (const auto& [name, bytes] : cases) {
        QTemporaryDir dir;
        const QString xml = dir.filePath("hseeds.xml");
        writeFile(xml, bytes);
        const QString report = record(dir.path(), kHotp1);
        EXPECT_TRUE(report.startsWith("Failed to record the new token in " +
                                      QDir::toNativeSeparators(xml) + ": "))
            << name << ": " << report.toStdString();
        EXPECT_TRUE(report.endsWith("\r\n")) << name;
        EXPECT_EQ(contents(xml), bytes) << name;
        // The CSV file is independent of the XML file and still gets the row.
        EXPECT_EQ(contents(dir.filePath("hseeds.csv")), firstLines(expected("hseeds-two.csv"), 2))
            << name;
    }
}

TEST_F(SeedFiles, ACsvFileThatCannotBeOpenedIsReported)
{
    ASSERT_TRUE(QDir(m_dir.path()).mkdir("hseeds.csv")); // a directory in its place
    EXPECT_EQ(write_seed_csv(path("hseeds.csv"), kHotp1), kCsvCannotOpen);
    const QString report = record(m_dir.path(), kHotp1);
    EXPECT_TRUE(report.startsWith("Failed to record the new token in " +
                                  QDir::toNativeSeparators(path("hseeds.csv"))))
        << report.toStdString();
    EXPECT_EQ(contents(path("hseeds.xml")), expected("hseeds-one.xml"));
}

// A device that refuses every write, as a full disk does.
class FullDevice final : public QIODevice
{
public:
    explicit FullDevice(bool sequential) : m_sequential(sequential) { open(WriteOnly); }
    bool isSequential() const override { return m_sequential; }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    bool m_sequential;
};

TEST(SeedFileWriters, AFailedXmlWriteLeavesTheDocumentAsItWas)
{
    QTemporaryDir dir;
    SeedDocument document = load_seed_document(OtpAlgorithm::Hotp, dir.path());
    FullDevice full(false);
    EXPECT_FALSE(write_seed_xml_to(document, kHotp1, full).has_value());

    // Written again to a good device, the document holds the token once.
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(write_seed_xml_to(document, kHotp1, buffer).has_value());
    EXPECT_EQ(buffer.data(), expected("hseeds-one.xml"));
}

TEST(SeedFileWriters, CsvWriterReportsSeekAndWriteFailures)
{
    FullDevice pipe(true); // cannot seek: no end of file to move to
    testing::internal::CaptureStdout();
    EXPECT_EQ(write_seed_csv_to(pipe, kTotp1, true), kCsvCannotSeek);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Terminal failure: Unable to set file pointer to end-of-file.\n");

    FullDevice full(false);
    EXPECT_EQ(write_seed_csv_to(full, kTotp1, true), kCsvWriteFailed);

    QBuffer buffer;
    buffer.open(QIODevice::ReadWrite);
    buffer.write("xx");
    buffer.seek(0); // the writer itself goes to the end
    EXPECT_EQ(write_seed_csv_to(buffer, kTotp1, false), kCsvWritten);
    EXPECT_EQ(buffer.data(), "xx" + firstLines(expected("tseeds-rows-only.csv"), 1));
}

} // namespace
