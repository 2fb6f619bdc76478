// vnotp-cli against virtual keys: every command, every exit code, the seed
// files next to the dialog's, the key's OTP next to oathtool's.

#include "cli/CliSupport.h"
#include "device/DeviceApi.h"
#include "programming/CNewTokenDlg.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

namespace {

const QString kKey = QStringLiteral("VT20000001");
const QString kSeed = QStringLiteral("3132333435363738393031323334353637383930");

class CliTest : public testing::Test
{
public:
    void SetUp() override
    {
        ASSERT_TRUE(clear_key_dir()) << "run through ctest, which sets VN_KEY_DIR";
        vnkey({"create", kKey, "--touch", "auto:0", "--plug"});
    }

    QString writeFile(const QString& name, const QByteArray& bytes)
    {
        QFile file(dir.filePath(name));
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
        return file.fileName();
    }

    QTemporaryDir dir;
    LinkedDeviceApi device;
};

struct ExitCase
{
    const char* name;
    std::function<QStringList(CliTest&, QTemporaryDir&)> arrange; // the arguments
    int code;
    const char* inErr; // expected in standard error
};

class ExitCodes : public CliTest, public testing::WithParamInterface<ExitCase>
{
};

TEST_P(ExitCodes, EachFailureHasItsCode)
{
    const QStringList args = GetParam().arrange(*this, dir);
    const ProcessRun result = cli(args);
    EXPECT_EQ(result.code, GetParam().code) << result.err;
    EXPECT_NE(result.err.find(GetParam().inErr), std::string::npos) << result.err;
}

INSTANTIATE_TEST_SUITE_P(
    Cli, ExitCodes,
    testing::Values(
        ExitCase{"UnknownOption",
                 [](auto&, auto&) {
                     return QStringList{"list", "--bogus"};
                 },
                 2, "bogus"},
        ExitCase{"ResetWithoutYes", [](auto&, auto&) { return QStringList{"reset"}; }, 2, "--yes"},
        ExitCase{"SerialTooLong",
                 [](auto&, auto&) {
                     return QStringList{"program", "--serial", "12345678901234"};
                 },
                 2, "The serial number is too long (at most 13 characters)."},
        ExitCase{"SeedNotHex",
                 [](CliTest& t, auto&) {
                     return QStringList{"program", "--seed-file", t.writeFile("seed", "XYZ\n")};
                 },
                 2, "Invalid seed format!"},
        ExitCase{"VerifyHotp",
                 [](auto&, auto&) {
                     return QStringList{"program", "--type", "hotp", "--verify"};
                 },
                 2, "TOTP"},
        ExitCase{"NoKey",
                 [](auto&, auto&) {
                     vnkey({"unplug", kKey});
                     return QStringList{"info"};
                 },
                 3, "0x80564E02"},
        ExitCase{"TwoKeys",
                 [](auto&, auto&) {
                     vnkey({"create", "VT20000002", "--plug"});
                     return QStringList{"list"};
                 },
                 3, "0x80564E03"},
        ExitCase{"NeverTouched",
                 [](auto&, auto&) {
                     vnkey({"set", kKey, "--touch", "never", "--timeout", "1"});
                     return QStringList{"reset", "--yes"};
                 },
                 4, "0x800A6984"},
        ExitCase{"UnknownToken",
                 [](auto&, auto&) {
                     return QStringList{"otp", "NOPE"};
                 },
                 2, "SN=NOPE"},
        ExitCase{
            "SeedFolderMissing",
            [](auto&, QTemporaryDir& d) {
                return QStringList{"program", "--serial", "S1", "--out-dir", d.filePath("missing")};
            },
            2, "does not exist or cannot be written"},
        ExitCase{"SeedFileUnparseable",
                 [](CliTest& t, QTemporaryDir& d) {
                     t.writeFile("tseeds.xml", "<data><tokens>");
                     return QStringList{"program", "--serial", "S1", "--out-dir", d.path()};
                 },
                 5, "SN=S1, SEED="},
        ExitCase{"PinNotGiven",
                 [](CliTest& t, auto&) {
                     t.device.OtpSetAccess(VN_SLOT_ALL, "1234", 4);
                     return QStringList{"program"};
                 },
                 6, "--pin-file"},
        ExitCase{"PinWrong",
                 [](CliTest& t, auto&) {
                     t.device.OtpSetAccess(VN_SLOT_ALL, "1234", 4);
                     return QStringList{"--pin-file", t.writeFile("pin", "4321\n"), "program"};
                 },
                 6, "PIN is incorrect."}),
    [](const auto& info) { return info.param.name; });

TEST_F(CliTest, ProgramsListsComputesRemovesAndResets)
{
    device.OtpSetAccess(VN_SLOT_ALL, "1234", 4);
    const QString pin = writeFile("pin", "1234\n");
    const QString seed = writeFile("seed", kSeed.toLatin1() + "\n");
    const ProcessRun hotp = cli({"--pin-file", pin, "program", "--type", "hotp", "--seed-file",
                                 seed, "--out-dir", dir.path(), "--no-enter"});
    ASSERT_EQ(hotp.code, 0) << hotp.err;
    EXPECT_EQ(hotp.out.find(kSeed.toStdString()), std::string::npos) << "seed shown unasked";
    EXPECT_NE(hotp.err.find("Please touch the key..."), std::string::npos);

    const ProcessRun totp = cli(
        {"program", "--verify", "--json", "--hash", "sha256", "--out-dir", dir.path()}, "1234\n");
    EXPECT_EQ(totp.code, 6) << "the PIN is read from standard input only with --pin-stdin";
    const ProcessRun verified = cli({"--pin-stdin", "program", "--verify", "--json", "--hash",
                                     "sha256", "--digits", "8", "--out-dir", dir.path()},
                                    "1234\n");
    ASSERT_EQ(verified.code, 0) << verified.err;
    EXPECT_NE(verified.out.find("\"serial\": \"VT2000000102\""), std::string::npos) << verified.out;

    const ProcessRun list = cli({"list"});
    EXPECT_EQ(list.out, "VT2000000101   HOTP   SHA-1    6      30\n"
                        "VT2000000102   TOTP   SHA-256  8      30\n");
    const ProcessRun info = cli({"info", "--json"});
    EXPECT_NE(info.out.find("\"tokens\": 2"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("\"pinSet\": true"), std::string::npos) << info.out;

    // The key counts from zero, as oathtool does.
    const ProcessRun otp = cli({"--pin-file", pin, "otp", "VT2000000101"});
    const ProcessRun reference = run("/usr/bin/oathtool", {"--hotp", "-c", "0", kSeed});
    ASSERT_EQ(otp.code, 0) << otp.err;
    EXPECT_EQ(otp.out, reference.out);

    EXPECT_EQ(cli({"--pin-file", pin, "remove", "VT2000000101"}).code, 0);
    EXPECT_EQ(cli({"enter", "on"}).code, 0);
    EXPECT_NE(run("vnkey", {"show", kKey}).out.find("ENTER after OTP: on"), std::string::npos);
    EXPECT_EQ(cli({"reset", "--yes"}).code, 0);
    EXPECT_EQ(cli({"list"}).out, "");
}

// The TOTP seed as the CSV file records it (base32), handed to oathtool.
TEST_F(CliTest, KeyAgreesWithOathtoolOnTheExportedSeed)
{
    ASSERT_EQ(cli({"program", "--serial", "T1", "--out-dir", dir.path()}).code, 0);
    QFile csv(dir.filePath("tseeds.csv"));
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    const QByteArray raw = csv.readAll();
    const QStringList row =
        QString::fromUtf16(reinterpret_cast<const char16_t*>(raw.constData()), raw.size() / 2)
            .split(QStringLiteral("\r\n"))
            .at(1)
            .split(QLatin1Char(','));
    const QString base32 = row.at(2).trimmed();
    // A time step may end between the two calls; the next try then agrees.
    ProcessRun otp, reference;
    for (int attempt = 0; attempt < 2 && (attempt == 0 || otp.out != reference.out); ++attempt) {
        otp = cli({"otp", "T1"});
        reference = run("/usr/bin/oathtool", {"--totp", "-b", base32});
    }
    ASSERT_EQ(otp.code, 0) << otp.err;
    EXPECT_EQ(otp.out, reference.out);
}

TEST_F(CliTest, SeedFilesEqualTheDialogsByteForByte)
{
    const QString seed = writeFile("seed", kSeed.toLatin1() + "\n");
    QTemporaryDir fromCli, fromDialog;
    for (const char* type : {"hotp", "totp"}) {
        const QString serial = QStringLiteral("S-%1").arg(QLatin1String(type));
        ASSERT_EQ(cli({"program", "--type", type, "--serial", serial, "--seed-file", seed, "--user",
                       "alice", "--out-dir", fromCli.path()})
                      .code,
                  0);
        ASSERT_EQ(cli({"remove", serial}).code, 0);

        CNewTokenDlg dialog(device, "", serial.toStdString(), nullptr, fromDialog.path());
        dialog.findChild<QLineEdit*>("seedEdit")->setText(kSeed);
        dialog.findChild<QLineEdit*>("userNameEdit")->setText("alice");
        dialog.findChild<QAbstractButton*>(std::string(type) == "hotp" ? "hotpRadio" : "totpRadio")
            ->setChecked(true);
        dialog.OnBnClickedSave();
        ASSERT_EQ(dialog.saveResult(), kProgrammingSucceeded) << dialog.resultText().toStdString();
    }
    for (const char* name : {"hseeds.xml", "hseeds.csv", "tseeds.xml", "tseeds.csv"}) {
        QFile a(fromCli.filePath(name)), b(fromDialog.filePath(name));
        ASSERT_TRUE(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly)) << name;
        EXPECT_EQ(a.readAll(), b.readAll()) << name;
    }
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
