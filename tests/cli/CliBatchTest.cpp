// batch over three keys that the test plugs in and pulls out one after
// another, one of them offered twice; and Ctrl-C between keys.

#include "cli/CliSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>

namespace {

class Batch : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(clear_key_dir()) << "run through ctest, which sets VN_KEY_DIR";
        for (const char* key : {"VT30000001", "VT30000002", "VT30000003"})
            vnkey({"create", key, "--touch", "auto:0"});
    }

    void start(const QStringList& args)
    {
        batch.start(binary("vnotp-cli"), args);
        ASSERT_TRUE(batch.waitForStarted());
    }

    // Waits, bounded, until standard error has said `text` once more.
    bool said(const QString& text)
    {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 20000) {
            err += QString::fromUtf8(batch.readAllStandardError());
            if (err.count(text) > seen[text]) {
                ++seen[text];
                return true;
            }
            batch.waitForReadyRead(100);
        }
        return false;
    }

    QTemporaryDir seeds;
    QProcess batch;
    QString err;
    std::map<QString, qsizetype> seen;
};

TEST_F(Batch, ProgramsEachKeyOnceAndRefusesAKeyOfferedTwice)
{
    start({"batch", "--keys", "3", "--tokens-per-key", "2", "--out-dir", seeds.path()});
    int number = 0;
    for (const char* key : {"VT30000001", "VT30000002", "VT30000003"}) {
        vnkey({"plug", key});
        ASSERT_TRUE(said(QStringLiteral("key %1 of 3: %2, 2 tokens programmed; remove the key")
                             .arg(++number)
                             .arg(QLatin1String(key))))
            << err.toStdString();
        vnkey({"unplug", key});
        if (number == 3)
            break;
        // The run must have seen the key go before it comes back.
        const QString waiting = QStringLiteral("waiting for key %1 of 3").arg(number + 1);
        ASSERT_TRUE(said(waiting)) << err.toStdString();
        if (number == 1) {
            vnkey({"plug", key});
            ASSERT_TRUE(said("key VT30000001 was already programmed in this run; remove it"))
                << err.toStdString();
            vnkey({"unplug", key});
            ASSERT_TRUE(said(waiting)) << err.toStdString();
        }
    }
    ASSERT_TRUE(batch.waitForFinished(20000));
    EXPECT_EQ(batch.exitCode(), 0) << err.toStdString();
    EXPECT_EQ(batch.readAllStandardOutput().toStdString(),
              "3 keys programmed, 0 keys failed; 6 tokens programmed, 0 tokens failed\n");
    const ProcessRun shown = run("vnkey", {"show", "VT30000001"});
    EXPECT_NE(shown.out.find("Tokens: 2 of 20"), std::string::npos) << shown.out;

    QFile csv(seeds.filePath("tseeds.csv"));
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    EXPECT_EQ(csv.readAll().count(QByteArray("\r\0\n\0", 4)), 1 + 6);
}

TEST_F(Batch, CtrlCBetweenKeysEndsWithASummary)
{
    start({"batch", "--keys", "2", "--out-dir", seeds.path()});
    vnkey({"plug", "VT30000001"});
    ASSERT_TRUE(said("remove the key")) << err.toStdString();
    vnkey({"unplug", "VT30000001"});
    ASSERT_TRUE(said("waiting for key 2 of 2")) << err.toStdString();
    ::kill(static_cast<pid_t>(batch.processId()), SIGINT);
    ASSERT_TRUE(batch.waitForFinished(20000));
    EXPECT_EQ(batch.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(batch.exitCode(), 130);
    EXPECT_EQ(batch.readAllStandardOutput().toStdString(),
              "1 keys programmed, 0 keys failed; 1 tokens programmed, 0 tokens failed; "
              "interrupted\n");
}

} // namespace
