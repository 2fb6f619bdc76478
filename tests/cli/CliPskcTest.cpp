// vnotp-cli's encrypted export on virtual keys, read back by python3-pskc and
// checked against oathtool, which no one here wrote; and the files it must
// refuse, before the key is touched and without changing a byte.

#include "cli/CliSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>

namespace {

using nlohmann::json;

const QString kKey = QStringLiteral("VT40000001");
const QString kSeed20 = QStringLiteral("3132333435363738393031323334353637383930");
const QString kSeed32 = kSeed20 + QStringLiteral("313233343536373839303132");

class CliPskc : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(clear_key_dir()) << "run through ctest, which sets VN_KEY_DIR";
        vnkey({"create", kKey, "--touch", "auto:0", "--plug"});
        password = write("password", "pass phrase\n");
        keyFile =
            write("key", "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f\n");
    }

    QString write(const QString& name, const QByteArray& bytes)
    {
        QFile file(dir.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return file.fileName();
    }

    static QByteArray read(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // The container's keys as python3-pskc decrypts them.
    static json reference(const QStringList& args)
    {
        const ProcessRun dump = run("/usr/bin/python3", QStringList{PSKC_REFERENCE} + args);
        EXPECT_EQ(dump.code, 0) << dump.err;
        return json::parse(dump.out, nullptr, false);
    }

    QTemporaryDir dir;
    QString password;
    QString keyFile;
};

// One key's tokens through `program --pskc`, with a password or a key file;
// then each secret python3-pskc takes out gives oathtool the key's OTP.
TEST_F(CliPskc, ProgramWritesWhatPythonPskcDecryptsAndOathtoolAgreesWithTheKey)
{
    const QString seed20 = write("seed20", kSeed20.toLatin1());
    const QString seed32 = write("seed32", kSeed32.toLatin1());
    for (const auto& [option, credential] :
         {std::pair{QStringLiteral("--pskc-password-file"), password},
          std::pair{QStringLiteral("--pskc-key-file"), keyFile}}) {
        SCOPED_TRACE(option.toStdString());
        ASSERT_EQ(cli({"reset", "--yes"}).code, 0);
        const QString pskc = dir.filePath(QFileInfo(credential).fileName() + ".pskc");
        QTemporaryDir clear, none;
        const ProcessRun hotp = cli({"program", "--type", "hotp", "--serial", "H1", "--seed-file",
                                     seed20, "--user", "alice@example.org", "--out-dir",
                                     clear.path(), "--pskc", pskc, option, credential});
        ASSERT_EQ(hotp.code, 0) << hotp.err;
        EXPECT_EQ(std::filesystem::status(pskc.toStdString()).permissions(),
                  std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
        EXPECT_TRUE(QFileInfo::exists(clear.filePath("hseeds.csv")));
        const ProcessRun totp =
            cli({"program", "--hash", "sha256", "--digits", "8", "--interval", "60", "--serial",
                 "T1", "--seed-file", seed32, "--no-plaintext", "--json", "--out-dir", none.path(),
                 "--pskc", pskc, option, credential});
        ASSERT_EQ(totp.code, 0) << totp.err;
        EXPECT_EQ(json::parse(totp.out)["recordedIn"], json::array({pskc.toStdString()}));
        EXPECT_EQ(QDir(none.path()).entryList(QDir::Files | QDir::Hidden), QStringList());

        const QString referenceOption = QString(option).remove(QStringLiteral("pskc-"));
        const json keys = reference({"dump", pskc, referenceOption, credential});
        const json expected =
            json::array({{{"id", "H1"},
                          {"algorithm", "urn:ietf:params:xml:ns:keyprov:pskc:hotp"},
                          {"suite", nullptr},
                          {"digits", 6},
                          {"encoding", "DECIMAL"},
                          {"counter", 0},
                          {"interval", nullptr},
                          {"user", "alice@example.org"},
                          {"manufacturer", "Halvorn Security"},
                          {"model", "Vornik"},
                          {"serial", kKey.toStdString()},
                          {"secret", kSeed20.toStdString()}},
                         {{"id", "T1"},
                          {"algorithm", "urn:ietf:params:xml:ns:keyprov:pskc:totp"},
                          {"suite", "HMAC-SHA256"},
                          {"digits", 8},
                          {"encoding", "DECIMAL"},
                          {"counter", nullptr},
                          {"interval", 60},
                          {"user", nullptr},
                          {"manufacturer", "Halvorn Security"},
                          {"model", "Vornik"},
                          {"serial", kKey.toStdString()},
                          {"secret", kSeed32.toStdString()}}});
        ASSERT_EQ(keys, expected);

        // The key counts from zero, as oathtool does; a time step may end
        // between the two TOTP calls, and the next try then agrees.
        const QString hotpSecret = QString::fromStdString(keys[0]["secret"].get<std::string>());
        EXPECT_EQ(cli({"otp", "H1"}).out,
                  run("/usr/bin/oathtool", {"--hotp", "-c", "0", hotpSecret}).out);
        const QString totpSecret = QString::fromStdString(keys[1]["secret"].get<std::string>());
        ProcessRun otp, reference;
        for (int attempt = 0; attempt < 2 && (attempt == 0 || otp.out != reference.out);
             ++attempt) {
            otp = cli({"otp", "T1"});
            reference =
                run("/usr/bin/oathtool", {"--totp=sha256", "-d", "8", "-s", "60", totpSecret});
        }
        ASSERT_EQ(otp.code, 0) << otp.err;
        EXPECT_EQ(otp.out, reference.out);
    }
}

// Three keys in one batch; between the first two another writer adds a token
// to the same file, which the batch keeps; before the third the file is
// replaced by something it cannot extend, so that token is reported with its
// seed and exit code 5.
TEST_F(CliPskc, BatchKeepsAnotherWritersTokensAndReportsATokenItCannotRecord)
{
    vnkey({"unplug", kKey});
    const QString keys[] = {kKey, QStringLiteral("VT40000002"), QStringLiteral("VT40000003")};
    for (const QString& key : keys)
        vnkey({"create", key, "--touch", "auto:0"});
    const QString pskc = dir.filePath("batch.pskc");
    // A seed file with one HOTP row, UTF-16LE as the tool writes it.
    const QString row = QStringLiteral("C1,%1\r\n").arg(kSeed20);
    const QString other =
        write("hseeds.csv", QByteArray(reinterpret_cast<const char*>(row.utf16()), row.size() * 2));
    QProcess batch;
    batch.start(binary("vnotp-cli"),
                {"batch", "--keys", "3", "--type", "hotp", "--json", "--show-seed",
                 "--no-plaintext", "--pskc", pskc, "--pskc-password-file", password});
    ASSERT_TRUE(batch.waitForStarted());
    QString err;
    for (const QString& key : keys) {
        if (key == keys[1]) {
            const ProcessRun converted = cli({"pskc", "convert", other, "--digits", "6", "--out",
                                              pskc, "--pskc-password-file", password});
            ASSERT_EQ(converted.code, 0) << converted.err;
        } else if (key == keys[2]) {
            ASSERT_TRUE(QFile::rename(pskc, dir.filePath("saved.pskc")));
            ASSERT_TRUE(QDir(dir.path()).mkdir("batch.pskc"));
        }
        vnkey({"plug", key});
        QElapsedTimer timer;
        timer.start();
        while (!err.contains(key + ", ") && timer.elapsed() < 20000) {
            batch.waitForReadyRead(100);
            err += QString::fromUtf8(batch.readAllStandardError());
        }
        vnkey({"unplug", key});
    }
    ASSERT_TRUE(batch.waitForFinished(20000));
    EXPECT_EQ(batch.exitCode(), 5) << err.toStdString();
    const json summary = json::parse(batch.readAllStandardOutput().toStdString());
    ASSERT_EQ(summary["keys"].size(), 3u) << summary;
    const auto token = [&](int key) { return summary["keys"][key]["tokens"][0]; };
    EXPECT_TRUE(err.contains(QStringLiteral("SN=%1, SEED=%2")
                                 .arg(QString::fromStdString(token(2)["serial"]),
                                      QString::fromStdString(token(2)["seed"]))))
        << err.toStdString();

    const json stored =
        reference({"dump", dir.filePath("saved.pskc"), "--password-file", password});
    ASSERT_EQ(stored.size(), 3u) << stored;
    EXPECT_EQ(stored[1]["id"], "C1");
    for (const auto& [at, key] : {std::pair{0, 0}, std::pair{2, 1}}) {
        EXPECT_EQ(stored[at]["id"], token(key)["serial"]);
        EXPECT_EQ(stored[at]["serial"], keys[key].toStdString());
        EXPECT_EQ(stored[at]["counter"], 0);
        EXPECT_EQ(QString::fromStdString(stored[at]["secret"]).toUpper(),
                  QString::fromStdString(token(key)["seed"]));
    }
}

// A file python3-pskc wrote with a password is shown with the same tokens.
TEST_F(CliPskc, ShowListsWhatPythonPskcWrote)
{
    const json wanted = json::array({{{"id", "P1"},
                                      {"algorithm", "urn:ietf:params:xml:ns:keyprov:pskc:totp"},
                                      {"suite", "HMAC-SHA256"},
                                      {"digits", 8},
                                      {"counter", nullptr},
                                      {"interval", 60},
                                      {"user", "bob"},
                                      {"manufacturer", "Halvorn Security"},
                                      {"model", "Vornik"},
                                      {"serial", nullptr},
                                      {"secret", kSeed32.toStdString()}},
                                     {{"id", "P2"},
                                      {"algorithm", "urn:ietf:params:xml:ns:keyprov:pskc:hotp"},
                                      {"suite", "HMAC-SHA1"},
                                      {"digits", 6},
                                      {"counter", 0},
                                      {"interval", nullptr},
                                      {"user", nullptr},
                                      {"manufacturer", "Halvorn Security"},
                                      {"model", "Vornik"},
                                      {"serial", nullptr},
                                      {"secret", kSeed20.toStdString()}}});
    const QString tokensFile = write("tokens.json", QByteArray::fromStdString(wanted.dump()));
    const QString theirs = dir.filePath("theirs.pskc");
    ASSERT_EQ(run("/usr/bin/python3",
                  {PSKC_REFERENCE, "write", theirs, tokensFile, "--password-file", password})
                  .code,
              0);
    const ProcessRun shown =
        cli({"pskc", "show", theirs, "--show-seed", "--pskc-password-file", password});
    ASSERT_EQ(shown.code, 0) << shown.err;
    EXPECT_EQ(shown.out,
              "P1             TOTP   SHA-256  8      60       bob SEED=" + kSeed32.toStdString() +
                  "\nP2             HOTP   SHA-1    6      -        SEED=" + kSeed20.toStdString() +
                  "\n");
    const ProcessRun asJson =
        cli({"pskc", "show", theirs, "--json", "--pskc-password-file", password});
    EXPECT_EQ(json::parse(asJson.out)["tokens"][0], json({{"serial", "P1"},
                                                          {"type", "TOTP"},
                                                          {"hash", "SHA-256"},
                                                          {"digits", 8},
                                                          {"interval", 60},
                                                          {"user", "bob"}}));
}

// Each case hands `program --pskc` and `pskc show` a file they must refuse:
// exit code 2, the reason on standard error, the key and the file unchanged,
// no clear-text seed file written.
TEST_F(CliPskc, RefusedFilesFailBeforeTheKeyIsTouchedAndStayByteIdentical)
{
    const QString good = dir.filePath("good.pskc");
    ASSERT_EQ(cli({"program", "--serial", "G1", "--out-dir", dir.path(), "--no-plaintext", "--pskc",
                   good, "--pskc-password-file", password})
                  .code,
              0);
    const QByteArray xml = read(good);
    QByteArray tampered = xml;
    const qsizetype secret = xml.indexOf("<xenc:CipherValue>", xml.indexOf("<pskc:Secret>")) + 20;
    tampered[secret] = tampered[secret] == 'A' ? 'B' : 'A';
    const QString wrong = write("wrong", "pass phrase!\n");

    struct Case
    {
        const char* name;
        QByteArray content;
        QStringList credential;
        const char* inErr;
    };
    const Case cases[] = {
        {"WrongPassword", xml, {"--pskc-password-file", wrong}, "the password is wrong"},
        {"Tampered",
         tampered,
         {"--pskc-password-file", password},
         "the MAC of the Secret of key G1 does not match"},
        {"KeyForAPassword", xml, {"--pskc-key-file", keyFile}, "protected by a password"},
        {"NotXml", xml.left(100), {"--pskc-password-file", password}, "not well-formed XML"},
    };
    const std::string tokensBefore = cli({"list"}).out;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString file = write(QStringLiteral("%1.pskc").arg(QLatin1String(c.name)), c.content);
        QTemporaryDir clear;
        const ProcessRun program =
            cli(QStringList{"program", "--out-dir", clear.path(), "--pskc", file} + c.credential);
        EXPECT_EQ(program.code, 2) << program.err;
        EXPECT_NE(program.err.find(c.inErr), std::string::npos) << program.err;
        EXPECT_EQ(program.err.find("Please touch"), std::string::npos) << program.err;
        EXPECT_EQ(QDir(clear.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
        EXPECT_EQ(cli({"list"}).out, tokensBefore);

        const ProcessRun shown = cli(QStringList{"pskc", "show", file} + c.credential);
        EXPECT_EQ(shown.code, 2) << shown.err;
        EXPECT_NE(shown.err.find(c.inErr), std::string::npos) << shown.err;
        EXPECT_EQ(read(file), c.content);
    }
    EXPECT_EQ(cli({"program", "--out-dir", dir.path(), "--no-plaintext"}).code, 2)
        << "--no-plaintext without --pskc would record the token nowhere";
}

// The clear-text files stay until the output has been read back equal: not
// removed when it cannot be written, removed after it was.
TEST_F(CliPskc, ConvertRemovesTheSourcesOnlyAfterTheOutputReadsBackEqual)
{
    const QString seed20 = write("seed20", kSeed20.toLatin1());
    const QString seed32 = write("seed32", kSeed32.toLatin1());
    QTemporaryDir clear;
    ASSERT_EQ(cli({"program", "--type", "hotp", "--serial", "H1", "--seed-file", seed20,
                   "--out-dir", clear.path()})
                  .code,
              0);
    ASSERT_EQ(cli({"program", "--serial", "T1", "--hash", "sha256", "--interval", "60", "--digits",
                   "8", "--seed-file", seed32, "--user", "ann", "--out-dir", clear.path()})
                  .code,
              0);
    QStringList sources;
    for (const char* name : {"hseeds.csv", "hseeds.xml", "tseeds.csv", "tseeds.xml"})
        sources << clear.filePath(QLatin1String(name));

    const ProcessRun unwritable =
        cli(QStringList{"pskc", "convert"} + sources +
            QStringList{"--out", dir.filePath("missing/out.pskc"), "--remove-sources",
                        "--pskc-password-file", password});
    EXPECT_EQ(unwritable.code, 5) << unwritable.err;
    for (const QString& source : sources)
        EXPECT_TRUE(QFileInfo::exists(source)) << source.toStdString();

    const QString out = dir.filePath("out.pskc");
    const ProcessRun converted =
        cli(QStringList{"pskc", "convert"} + sources +
            QStringList{"--out", out, "--remove-sources", "--pskc-key-file", keyFile});
    ASSERT_EQ(converted.code, 0) << converted.err;
    for (const QString& source : sources)
        EXPECT_FALSE(QFileInfo::exists(source)) << source.toStdString();
    const json keys = reference({"dump", out, "--key-file", keyFile});
    ASSERT_EQ(keys.size(), 2u) << keys;
    EXPECT_EQ(keys[0]["id"], "H1");
    EXPECT_EQ(keys[0]["secret"], kSeed20.toStdString());
    EXPECT_EQ(keys[1]["id"], "T1");
    EXPECT_EQ(keys[1]["secret"], kSeed32.toStdString());
    EXPECT_EQ(keys[1]["interval"], 60);
    EXPECT_EQ(keys[1]["digits"], 8);
    EXPECT_EQ(keys[1]["user"], "ann");
}

} // namespace
