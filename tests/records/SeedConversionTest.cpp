// The clear-text seed files as the program writes them, turned into key
// packages: merged by serial, with the gaps each file leaves filled from the
// others or refused by name.

#include "export/SeedConversion.h"
#include "programming/NewToken.h"
#include "programming/SeedFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using pskc::ErrorKind;
using pskc::KeyPackage;

namespace {

std::vector<uint8_t> rfcSeed(std::size_t length)
{
    std::vector<uint8_t> seed(length);
    for (std::size_t i = 0; i < length; ++i)
        seed[i] = static_cast<uint8_t>('0' + (i + 1) % 10);
    return seed;
}

SeedFileToken token(OtpAlgorithm algorithm, OtpHash hash, int digits, int interval,
                    std::string serial, QString user)
{
    return {algorithm,
            hash,
            digits,
            interval,
            std::move(serial),
            rfcSeed(hash == OtpHash::Sha1 ? 20 : 32),
            user};
}

KeyPackage package(const SeedFileToken& t, std::optional<int> interval = {})
{
    return pskc::make_key_package(
        t.serial, t.algorithm == OtpAlgorithm::Hotp ? pskc::OtpKind::Hotp : pskc::OtpKind::Totp,
        t.hash == OtpHash::Sha1 ? pskc::OtpHash::Sha1 : pskc::OtpHash::Sha256, t.digits,
        interval.value_or(t.interval), pskc::SecretBytes(t.seed), t.userName.toStdString());
}

TEST(SeedConversion, MergesTheFilesTheProgramWritesAndRefusesWhatTheyLeaveOpen)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::vector<SeedFileToken> tokens = {
        token(OtpAlgorithm::Hotp, OtpHash::Sha1, 6, 30, "VT2024061101", ""),
        token(OtpAlgorithm::Hotp, OtpHash::Sha256, 8, 30, "VT2024061102", "Ann & <Bob>"),
        token(OtpAlgorithm::Totp, OtpHash::Sha1, 6, 60, "VT2024061103", ""),
        token(OtpAlgorithm::Totp, OtpHash::Sha256, 8, 30, "VT2024061104", "Doe, J\u00f6rg"),
    };
    // An existing empty CSV file gets rows without a header line.
    QFile(seed_csv_path(seed_xml_path(OtpAlgorithm::Totp, dir.path()))).open(QIODevice::WriteOnly);
    for (const SeedFileToken& t : tokens) {
        ASSERT_EQ(export_seed_files(dir.path(), t), QString());
    }
    QFile hotpXml(seed_xml_path(OtpAlgorithm::Hotp, dir.path()));
    ASSERT_TRUE(hotpXml.open(QIODevice::ReadOnly));
    QByteArray otherSeed =
        hotpXml.readAll().replace("31323334353637383930</seed>", "31323334353637383931</seed>");
    QFile other(dir.filePath("other.xml"));
    ASSERT_TRUE(other.open(QIODevice::WriteOnly) && other.write(otherSeed) == otherSeed.size());
    other.close();

    struct Case
    {
        std::string name;
        std::vector<std::string> files;
        std::optional<int> digits;
        std::vector<KeyPackage> packages;
        std::string noteOrError; // the note expected, or a part of the error
        std::optional<ErrorKind> error;
    };
    const std::vector<Case> cases = {
        {"all four",
         {"tseeds.csv", "hseeds.xml", "hseeds.csv", "tseeds.xml"},
         6,
         {package(tokens[2]), package(tokens[3]), package(tokens[0]), package(tokens[1])},
         "",
         {}},
        {"TOTP XML only",
         {"tseeds.xml"},
         {},
         {package(tokens[2], 30), package(tokens[3])},
         "VT2024061103, VT2024061104: no time step in a tseeds.csv; converted with the time "
         "window of 30 seconds from the header of ",
         {}},
        {"HOTP CSV only",
         {"hseeds.csv"},
         {},
         {},
         "the number of digits of VT2024061101, VT2024061102 is unknown",
         ErrorKind::UnknownDigits},
        {"HOTP CSV with digits",
         {"hseeds.csv"},
         8,
         {package(token(OtpAlgorithm::Hotp, OtpHash::Sha1, 8, 30, "VT2024061101", "")),
          package(token(OtpAlgorithm::Hotp, OtpHash::Sha256, 8, 30, "VT2024061102", ""))},
         "",
         {}},
        {"two seeds",
         {"hseeds.csv", "hseeds.xml", "other.xml"},
         {},
         {},
         "serial number VT2024061101 has two different seeds (in ",
         ErrorKind::Conflict},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<fs::path> files;
        for (const std::string& file : c.files)
            files.push_back(fs::path(dir.path().toStdString()) / file);
        const auto conversion = pskc::convert_seed_files(files, {c.digits});
        if (c.error) {
            ASSERT_FALSE(conversion);
            EXPECT_EQ(conversion.error().kind, *c.error);
            EXPECT_NE(conversion.error().message.find(c.noteOrError), std::string::npos)
                << conversion.error().message;
            continue;
        }
        ASSERT_TRUE(conversion) << conversion.error().message;
        EXPECT_EQ(conversion->packages, c.packages);
        if (c.noteOrError.empty())
            EXPECT_TRUE(conversion->notes.empty());
        else
            EXPECT_TRUE(conversion->notes.size() == 1 &&
                        conversion->notes[0].starts_with(c.noteOrError))
                << testing::PrintToString(conversion->notes);
    }
}

} // namespace
