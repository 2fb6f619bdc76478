// vnotp-cli on a failing machine: a disk that fills up while a token is
// recorded, and two runs that record into the same seed files at once.

#include "cli/CliSupport.h"
#include "records/SeedFileReader.h"
#include "records/SeedFileRecorder.h"
#include "support/FileSizeLimit.h"

#include <nlohmann/json.hpp>

#include <set>

namespace {

// A seed folder that already holds many tokens, so that its files are larger
// than the key's: a limit between them lets the key take the token and the
// seed files fail.
TEST_F(CliTest, AFileThatCannotBeWrittenIsLeftAsItWasAndTheSeedIsShownWithExitCode5)
{
    const std::string seed = "3132333435363738393031323334353637383930";
    SeedFileRecorder files(dir.path().toStdString());
    for (int n = 0; n < 40; ++n)
        for (const RecordOutcome& outcome :
             files.record({OtpAlgorithm::Totp, OtpHash::Sha1, 6, 30, "OLD" + std::to_string(n),
                           SecretBytes(std::vector<uint8_t>(20, 0x5A)), "someone@example.org"},
                          ""))
            ASSERT_TRUE(outcome.recorded());
    const QStringList names = {"tseeds.xml", "tseeds.csv"};
    std::map<QString, QByteArray> before, after;
    for (const QString& name : names)
        before[name] = contents(dir.filePath(name));
    // The token without a limit first: the bytes to expect.
    const QStringList program = {"program", "--serial", "S1",        "--seed-file",
                                 "-",       "--json",   "--out-dir", dir.path()};
    ASSERT_EQ(cli(program, QByteArray::fromStdString(seed)).code, 0);
    for (const QString& name : names)
        after[name] = contents(dir.filePath(name));
    const qint64 keyFile =
        contents(QDir(qEnvironmentVariable("VN_KEY_DIR")).filePath("VT20000001.json")).size();
    ASSERT_EQ(cli({"remove", "--yes", "S1"}).code, 0);
    const qint64 xml = after["tseeds.xml"].size(), csv = after["tseeds.csv"].size();
    ASSERT_LT(keyFile, std::min(before["tseeds.xml"].size(), before["tseeds.csv"].size()));
    for (const qint64 limit : {keyFile - 1, xml - 1, csv - 1, std::min(xml, csv),
                               before["tseeds.csv"].size() + 1, std::max(xml, csv)}) {
        SCOPED_TRACE(testing::Message() << "limit " << limit);
        for (const QString& name : names)
            write(name, before[name]);
        const ProcessRun result =
            Running(program, QByteArray::fromStdString(seed), BIN_DIR "/vnotp-cli", [limit] {
                FileSizeLimit::applyInChild(static_cast<rlim_t>(limit));
            }).finish();
        const bool keyTookIt = limit >= keyFile;
        const bool allFit = limit >= std::max(xml, csv);
        EXPECT_EQ(result.code, !keyTookIt ? 4 : allFit ? 0 : 5) << result.err;
        EXPECT_EQ(has(result.err, "SN=S1, SEED=" + seed), keyTookIt && !allFit) << result.err;
        nlohmann::json recordedIn = nlohmann::json::array();
        for (const QString& name : names) {
            const bool fits = keyTookIt && limit >= after[name].size();
            EXPECT_EQ(contents(dir.filePath(name)), fits ? after[name] : before[name])
                << name.toStdString();
            EXPECT_EQ(has(result.err, name.toStdString() + ": "), keyTookIt && !fits) << result.err;
            if (fits)
                recordedIn.push_back(dir.filePath(name).toStdString());
        }
        if (keyTookIt) {
            // Only the files written.
            EXPECT_EQ(nlohmann::json::parse(result.out, nullptr, false)["tokens"][0]["recordedIn"],
                      recordedIn);
            ASSERT_EQ(cli({"remove", "--yes", "S1"}).code, 0);
        }
    }
}

// Two virtual keys, each in its own key folder and each plugged in there, so
// that two vnotp-cli runs program at the same time into one seed folder.
TEST(CliTwoWriters, TwoRunsRecordingIntoTheSameSeedFilesLoseNoToken)
{
    constexpr int kEach = 15;
    const QString script = R"(export VN_KEY_DIR="$1"; "$2" create "K$3" --touch auto:0 --plug &&
        for i in $(seq %1); do "$4" program --serial "$3$i" --out-dir "$5" >/dev/null || exit 1; done)";
    QTemporaryDir keys, seeds;
    std::multiset<std::string> expected;
    std::vector<std::unique_ptr<Running>> writers;
    for (const QString prefix : {"A", "B"}) {
        writers.push_back(std::make_unique<Running>(
            QStringList{"-c", script.arg(kEach), "-", keys.filePath(prefix), BIN_DIR "/vnkey",
                        prefix, BIN_DIR "/vnotp-cli", seeds.path()},
            QByteArray(), "/bin/bash"));
        for (int i = 1; i <= kEach; ++i)
            expected.insert(prefix.toStdString() + std::to_string(i));
    }
    for (const auto& writer : writers) {
        const ProcessRun result = writer->finish();
        EXPECT_EQ(result.code, 0) << result.err;
    }
    for (const char* name : {"tseeds.xml", "tseeds.csv"}) {
        const auto records = read_seed_file(seeds.filePath(name).toStdString());
        ASSERT_TRUE(records) << name;
        std::multiset<std::string> serials;
        for (const SeedRecord& record : *records)
            serials.insert(record.serial);
        EXPECT_EQ(serials, expected) << name;
    }
}

} // namespace
