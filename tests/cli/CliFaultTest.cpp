// vnotp-cli on a failing machine: a disk that fills up while a token is
// recorded, and two runs that record into the same seed files at once.

#include "cli/CliSupport.h"
#include "records/RecordsTestSupport.h"
#include "records/SeedFileReader.h"
#include "records/SeedFileRecorder.h"
#include "support/FileSizeLimit.h"

#include <nlohmann/json.hpp>

#include <set>

using namespace otp;
using namespace otp::core;
using namespace otp::pskc;
using namespace otp::records;

namespace {

// A seed folder that already holds many tokens, so that its files are larger
// than the key's: a limit between them lets the key take the token and the
// seed files fail.
TEST_F(CliTest, AFileThatCannotBeWrittenIsLeftAsItWasAndTheSeedIsShownWithExitCode5)
{
    const std::string seed = "3132333435363738393031323334353637383930";
    const fs::path folder = dir.path().toStdString();
    SeedFileRecorder files(folder);
    for (int n = 0; n < 40; ++n)
        ASSERT_EQ(record(files, describedToken(OtpAlgorithm::Totp, OtpHash::Sha1, 6, 30,
                                               "OLD" + std::to_string(n), "someone@example.org")),
                  "");
    const auto before = snapshot(folder);
    // The token without a limit first: the bytes to expect.
    const QStringList program = {"program", "--serial", "S1",        "--seed-file",
                                 "-",       "--json",   "--out-dir", dir.path()};
    ASSERT_EQ(cli(program, QByteArray::fromStdString(seed)).code, 0);
    const auto after = snapshot(folder);
    const qint64 keyFile =
        contents(QDir(qEnvironmentVariable("VN_KEY_DIR")).filePath("VT20000001.json")).size();
    ASSERT_EQ(cli({"remove", "--yes", "S1"}).code, 0);
    const auto size = [](const auto& files, const char* name) -> qint64 {
        return std::ssize(files.at(name));
    };
    const qint64 xml = size(after, "tseeds.xml"), csv = size(after, "tseeds.csv");
    ASSERT_LT(keyFile, std::min(size(before, "tseeds.xml"), size(before, "tseeds.csv")));
    // The key refuses; no file fits; one of them does.
    for (const qint64 limit : {keyFile - 1, size(before, "tseeds.csv") + 1, std::min(xml, csv)}) {
        SCOPED_TRACE(testing::Message() << "limit " << limit);
        for (const auto& [name, bytes] : before)
            spit(folder / name, bytes);
        const ProcessRun result =
            Running(program, QByteArray::fromStdString(seed), BIN_DIR "/vnotp-cli", [limit] {
                FileSizeLimit::applyInChild(static_cast<rlim_t>(limit));
            }).finish();
        const bool keyTookIt = limit >= keyFile;
        EXPECT_EQ(result.code, keyTookIt ? 5 : 4) << result.err;
        EXPECT_EQ(has(result.err, "SN=S1, SEED=" + seed), keyTookIt) << result.err;
        nlohmann::json recordedIn = nlohmann::json::array(); // only the files written
        for (const auto& [name, old] : before) {
            const bool fits = keyTookIt && limit >= std::ssize(after.at(name));
            EXPECT_EQ(slurp(folder / name), fits ? after.at(name) : old) << name;
            EXPECT_EQ(has(result.err, name + ": "), keyTookIt && !fits) << result.err;
            if (fits)
                recordedIn.push_back((folder / name).string());
        }
        if (keyTookIt) {
            EXPECT_EQ(nlohmann::json::parse(result.out, nullptr, false)["tokens"][0]["recordedIn"],
                      recordedIn);
            ASSERT_EQ(cli({"remove", "--yes", "S1"}).code, 0);
        }
    }
}

// Two batch runs, each on a key in its own key folder, program at once into
// one seed folder: the folder lock, held from the check to the record, keeps
// either from dropping the other's tokens.
TEST(CliTwoWriters, TwoRunsRecordingIntoTheSameSeedFilesLoseNoToken)
{
    const QString script = R"(export VN_KEY_DIR="$1"; "$2" create "K$3" --touch auto:10 --plug &&
        exec "$4" batch --keys 1 --tokens-per-key 20 --out-dir "$5" >/dev/null)";
    QTemporaryDir keys, seeds;
    std::multiset<std::string> expected;
    std::vector<std::unique_ptr<Running>> writers;
    for (const QString prefix : {"A", "B"}) {
        writers.push_back(std::make_unique<Running>(
            QStringList{"-c", script, "-", keys.filePath(prefix), BIN_DIR "/vnkey", prefix,
                        BIN_DIR "/vnotp-cli", seeds.path()},
            QByteArray(), "/bin/bash"));
        for (int i = 1; i <= 20; ++i)
            expected.insert(QString::asprintf("K%s%02d", qPrintable(prefix), i).toStdString());
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
