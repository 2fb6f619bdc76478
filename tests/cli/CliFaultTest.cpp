// vnotp-cli on a failing machine: a disk that fills up while a token is
// recorded, and two runs that record into the same seed files at once.

#include "cli/CliSupport.h"
#include "programming/NewToken.h"
#include "support/FileSizeLimit.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <set>

namespace {

const QString kKey = QStringLiteral("VT20000001");
const QString kSeed = QStringLiteral("3132333435363738393031323334353637383930");

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// vnotp-cli with the file size limit lowered for it alone.
ProcessRun cliWithLimit(const QStringList& args, qint64 limit)
{
    QProcess process;
    process.setChildProcessModifier(
        [limit] { FileSizeLimit::applyInChild(static_cast<rlim_t>(limit)); });
    process.start(binary("vnotp-cli"), args);
    process.waitForFinished(60000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput().toStdString(),
            process.readAllStandardError().toStdString()};
}

// A seed folder that already holds many tokens, so that its files are larger
// than the key's: a limit between them lets the key take the token and the
// seed files fail.
TEST(CliFullDisk, AFileThatCannotBeWrittenIsLeftAsItWasAndTheSeedIsShownWithExitCode5)
{
    ASSERT_TRUE(clear_key_dir()) << "run through ctest, which sets VN_KEY_DIR";
    vnkey({"create", kKey, "--touch", "auto:0", "--plug"});
    QTemporaryDir dir, scratch;
    for (int n = 0; n < 40; ++n) {
        SeedFileToken token{OtpAlgorithm::Totp,
                            OtpHash::Sha1,
                            6,
                            30,
                            "OLD" + std::to_string(n),
                            std::vector<uint8_t>(20, 0x5A),
                            "someone@example.org"};
        ASSERT_EQ(export_seed_files(dir.path(), token), "");
    }
    {
        QFile seed(scratch.filePath("seed"));
        ASSERT_TRUE(seed.open(QIODevice::WriteOnly));
        seed.write(kSeed.toLatin1() + "\n");
    }
    const QStringList program = {
        "program",   "--serial", "S1", "--seed-file", scratch.filePath("seed"),
        "--out-dir", dir.path()};
    const QStringList names = {"tseeds.xml", "tseeds.csv"};
    std::map<QString, QByteArray> before, after;
    for (const QString& name : names) {
        before[name] = contents(dir.filePath(name));
        ASSERT_TRUE(QFile::copy(dir.filePath(name), scratch.filePath(name)));
    }
    // The same token into a copy of the folder without a limit: the bytes to expect.
    QStringList reference = program;
    reference.last() = scratch.path();
    ASSERT_EQ(cli(reference).code, 0);
    const qint64 keyFile =
        contents(QDir(qEnvironmentVariable("VN_KEY_DIR")).filePath(kKey + ".json")).size();
    ASSERT_EQ(cli({"remove", "S1"}).code, 0);
    for (const QString& name : names)
        after[name] = contents(scratch.filePath(name));

    const qint64 xml = after["tseeds.xml"].size(), csv = after["tseeds.csv"].size();
    ASSERT_LT(keyFile, std::min(before["tseeds.xml"].size(), before["tseeds.csv"].size()));
    for (const qint64 limit : {keyFile - 1, xml - 1, csv - 1, std::min(xml, csv),
                               before["tseeds.csv"].size() + 1, std::max(xml, csv)}) {
        SCOPED_TRACE(testing::Message() << "limit " << limit);
        const ProcessRun run = cliWithLimit(program, limit);
        const bool keyTookIt = limit >= keyFile;
        const bool allFit = limit >= std::max(xml, csv);
        EXPECT_EQ(run.code, !keyTookIt ? 4 : allFit ? 0 : 5) << run.err;
        EXPECT_EQ(run.err.find("SN=S1, SEED=" + kSeed.toStdString()) != std::string::npos,
                  keyTookIt && !allFit)
            << run.err;
        for (const QString& name : names) {
            const QByteArray now = contents(dir.filePath(name));
            const bool fits = keyTookIt && limit >= after[name].size();
            EXPECT_EQ(now, fits ? after[name] : before[name]) << name.toStdString();
            EXPECT_EQ(run.err.find(name.toStdString() + ": ") != std::string::npos,
                      keyTookIt && !fits)
                << run.err;
            // Back to the file as it was, for the next limit.
            QFile out(dir.filePath(name));
            ASSERT_TRUE(out.open(QIODevice::WriteOnly));
            out.write(before[name]);
        }
        if (keyTookIt) {
            ASSERT_EQ(cli({"remove", "S1"}).code, 0);
        }
    }
}

// Two virtual keys, each in its own key folder and each plugged in there, so
// that two vnotp-cli runs program at the same time into one seed folder.
TEST(CliTwoWriters, TwoRunsRecordingIntoTheSameSeedFilesLoseNoToken)
{
    constexpr int kEach = 15;
    QTemporaryDir keysA, keysB, seeds;
    QProcess writers[2];
    const QTemporaryDir* keyDirs[2] = {&keysA, &keysB};
    std::set<std::string> expected;
    for (int w = 0; w < 2; ++w) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("VN_KEY_DIR", keyDirs[w]->filePath("keys"));
        QProcess create;
        create.setProcessEnvironment(env);
        create.start(binary("vnkey"), {"create", QStringLiteral("VT3000000%1").arg(w), "--touch",
                                       "auto:0", "--plug"});
        ASSERT_TRUE(create.waitForFinished(10000) && create.exitCode() == 0);

        const QString prefix = w == 0 ? "A" : "B";
        env.insert("CLI", binary("vnotp-cli"));
        env.insert("PREFIX", prefix);
        env.insert("SEEDS", seeds.path());
        writers[w].setProcessEnvironment(env);
        writers[w].start("/bin/bash",
                         {"-c", QStringLiteral("for i in $(seq 1 %1); do \"$CLI\" program --serial "
                                               "\"$PREFIX$i\" --out-dir \"$SEEDS\" >/dev/null || "
                                               "exit 1; done")
                                    .arg(kEach)});
        for (int i = 1; i <= kEach; ++i)
            expected.insert(prefix.toStdString() + std::to_string(i));
    }
    for (QProcess& writer : writers) {
        ASSERT_TRUE(writer.waitForFinished(60000));
        EXPECT_EQ(writer.exitCode(), 0) << writer.readAllStandardError().toStdString();
    }

    pugi::xml_document xml;
    const QByteArray xmlBytes = contents(seeds.filePath("tseeds.xml"));
    ASSERT_TRUE(xml.load_buffer(xmlBytes.constData(), static_cast<size_t>(xmlBytes.size())));
    std::set<std::string> inXml;
    for (pugi::xml_node token : xml.first_element_by_path("data/tokens").children("token"))
        inXml.insert(token.child_value("serial"));
    EXPECT_EQ(inXml, expected);

    const QByteArray csv = contents(seeds.filePath("tseeds.csv"));
    const QStringList rows =
        QString::fromUtf16(reinterpret_cast<const char16_t*>(csv.constData()), csv.size() / 2)
            .split("\r\n", Qt::SkipEmptyParts);
    std::set<std::string> inCsv;
    for (const QString& row : rows.mid(1))
        inCsv.insert(row.section(',', 1, 1).toStdString());
    EXPECT_EQ(rows.size(), 1 + 2 * kEach);
    EXPECT_EQ(inCsv, expected);
}

} // namespace
