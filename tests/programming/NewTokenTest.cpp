// New Token against the virtual key with a PIN set, then through the linked library.

#include "programming/NewToken.h"
#include "programming/NewTokenFlow.h"
#include "support/FakeMainWindow.h"
#include "support/FileSizeLimit.h"
#include "support/ModalDriver.h"
#include "support/OtpReference.h"
#include "support/ScriptedDevice.h"
#include "support/VirtualKeyDevice.h"

#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <tuple>

namespace {

const QString kSeed40 = "3132333435363738393031323334353637383930";
const QString kSeed64 = kSeed40 + "313233343536373839303132";

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class NewTokenTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(key.OtpSetAccess(VN_SLOT_ALL, "1234", 4), VN_OK);
        window.keySerialNumber = "VK1000001";
        window.listedSerials = {"VK100000101", "VK100000103"};
    }
    // Runs New Token on `on`; the PIN dialog gets 1234, the New Token dialog `act`.
    void run(std::function<void(QWidget*)> act, MainWindowPort* on = nullptr)
    {
        window.clearRecords();
        device.clearCalls();
        ModalDriver modals([&](QWidget* dialog) {
            if (dialog->objectName() != "PinDlg")
                return act(dialog);
            perform(dialog, {"pinEdit=1234", "okButton"});
        });
        OnNewToken(on ? *on : window, dir.path());
    }
    QStringList files() const { return QDir(dir.path()).entryList(QDir::Files); }
    // The message line as shown, and as a screen reader announces it.
    static QStringList status(QWidget* d)
    {
        auto* line = d->findChild<QLabel*>("statusLine");
        QAccessibleInterface* spoken = QAccessible::queryAccessibleInterface(line);
        return {line->text(), spoken->text(QAccessible::Name),
                spoken->text(QAccessible::Description)};
    }

    QTemporaryDir dir;
    VirtualKeyDevice key;
    ScriptedDevice device{key};
    FakeMainWindow window{device};
};

TEST_F(NewTokenTest, SaveRefusesWhatTheKeyOrTheSeedFilesCannotTake)
{
    const QString sn = "serialEdit=VK100000101", seed40 = "seedEdit=" + kSeed40;
    const QString sha1 = "SHA-1 needs a seed of 40 hexadecimal digits.";
    const std::vector<std::pair<QStringList, QString>> cases = {
        {{"serialEdit=", seed40}, "Please enter a serial number."},
        {{"serialEdit=VK100000101234", seed40},
         "The serial number is too long (at most 13 characters)."},
        {{"serialEdit=VK1,01", seed40},
         "The serial number must not contain a comma, a double quote or a line break."},
        {{sn, "seedEdit=" + kSeed40.left(38) + "zz"}, "Invalid seed format!"},
        {{sn, "seedEdit=" + kSeed64}, sha1},
        {{sn, "sha256Radio", seed40}, "SHA-256 needs a seed of 64 hexadecimal digits."},
        {{sn, seed40, "userNameEdit=a\nb"},
         "The user name must not contain a comma, a double quote or a line break."},
    };
    for (const auto& [steps, message] : cases) {
        SCOPED_TRACE(steps.join(' ').toStdString());
        run([&](QWidget* d) {
            perform(d, steps + QStringList{"saveButton"});
            EXPECT_EQ(status(d), (QStringList{message, message, "Message"}));
            EXPECT_TRUE(d->isVisible());
        });
    }
    EXPECT_EQ(device.count(DeviceCall::OtpPersonalize), 0);
    EXPECT_EQ(files(), QStringList());
}

TEST_F(NewTokenTest, AnUntouchedKeyIsReportedAloneAndWritesNoFile)
{
    key.setTouchNever(20);
    run([](QWidget* d) { perform(d, {"seedEdit=" + kSeed40, "saveButton"}); });
    EXPECT_EQ(window.events, QStringList{"Failed to save the new token (error = 0x800A6984)\r\n"});
    EXPECT_EQ(device.count(DeviceCall::OtpPersonalize), 1);
    EXPECT_EQ(device.count(DeviceCall::OtpSetValueWithEnter) + window.refreshes, 0);
    EXPECT_EQ(files(), QStringList());
}

// A save programs the record as chosen (a HOTP token keeps the interval too),
// then reports, sets ENTER and refreshes, in that order.
TEST_F(NewTokenTest, SaveProgramsTheChosenRecordThenReportsSetsEnterAndRefreshes)
{
    const std::string seed20 = QByteArray::fromHex(kSeed40.toLatin1()).toStdString();
    const std::string seed32 = QByteArray::fromHex(kSeed64.toLatin1()).toStdString();
    // steps, seed text, record, ENTER, seed file
    using Case = std::tuple<QStringList, QString, OtpTokenRecord, bool, QString>;
    const std::vector<Case> cases = {
        {{"sha256Radio", "digits8Radio", "interval60Radio"},
         kSeed64,
         tokenRecord("VK100000104", VN_TYPE_TOTP, seed32, VN_HASH_SHA256, 8, 60),
         true,
         "tseeds"},
        {{"hotpRadio", "interval60Radio", "appendEnterCheck"},
         kSeed40.toLower(),
         tokenRecord("VK100000105", VN_TYPE_HOTP, seed20, VN_HASH_SHA1, 6, 60),
         false,
         "hseeds"},
    };
    for (const auto& [steps, seed, record, enter, file] : cases) {
        SCOPED_TRACE(record.serial);
        const QString serial = record.serial;
        run([&](QWidget* d) {
            perform(d, steps + QStringList{"serialEdit=" + serial, "seedEdit=" + seed,
                                           "userNameEdit=ann", "saveButton"});
        });
        const auto calls = device.callsOf(DeviceCall::OtpPersonalize);
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(std::memcmp(&calls[0].record, &record, sizeof record), 0);
        EXPECT_EQ(calls[0].access, "1234");
        EXPECT_EQ(window.events, (QStringList{"Save new token succeeded!\r\nSN=" + serial +
                                                  ", SEED=" + seed + "\r\n",
                                              "Set C/R succeeded!\r\n", "<refresh>"}));
        EXPECT_EQ(key.enterFlag(), enter);
        EXPECT_EQ(files().filter(file), (QStringList{file + ".csv", file + ".xml"}));
    }
}

// A disk that fills up between programming the key (whose file is small) and
// recording the seed files (large): the Messages panel shows the token with
// its seed and names every file it could not reach, which stay as they were.
TEST_F(NewTokenTest, AFullDiskIsReportedInTheMessagesPanelWithTheSeed)
{
    for (int n = 0; n < 40; ++n) {
        const SeedFileToken old{OtpAlgorithm::Hotp,
                                OtpHash::Sha1,
                                6,
                                30,
                                "OLD" + std::to_string(n),
                                std::vector<uint8_t>(20, 0x5A),
                                ""};
        ASSERT_EQ(export_seed_files(dir.path(), old), "");
    }
    const QString xml = dir.filePath("hseeds.xml"), csv = dir.filePath("hseeds.csv");
    const QByteArray oldXml = contents(xml), oldCsv = contents(csv);
    run([&](QWidget* d) {
        perform(d, {"hotpRadio", "serialEdit=VK100000102", "seedEdit=" + kSeed40});
        const FileSizeLimit full(static_cast<rlim_t>(std::min(oldXml.size(), oldCsv.size())));
        perform(d, {"saveButton"});
    });
    ASSERT_EQ(window.events.size(), 3) << window.events.join("|").toStdString();
    const QStringList lines = window.events[0].split("\r\n", Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4) << window.events[0].toStdString();
    EXPECT_EQ(lines[0], "Save new token succeeded!");
    EXPECT_EQ(lines[1], "SN=VK100000102, SEED=" + kSeed40);
    EXPECT_TRUE(lines[2].startsWith("Failed to record the new token in " + xml + ": "));
    EXPECT_TRUE(lines[3].startsWith("Failed to record the new token in " + csv + ": "));
    EXPECT_EQ(contents(xml), oldXml);
    EXPECT_EQ(contents(csv), oldCsv);
    EXPECT_EQ(key.storedTokens().size(), 1u);
}

// Save records the token into the seed files as they are then, not as they
// were when the dialog opened: a file moved away meanwhile stays away, and a
// token another tool recorded meanwhile stays.
TEST_F(NewTokenTest, SaveRecordsIntoTheSeedFilesAsTheyAreThen)
{
    const QString xml = dir.filePath("hseeds.xml");
    auto saveWhile = [&](const QString& serial, const std::function<void()>& meanwhile) {
        run([&](QWidget* d) {
            meanwhile();
            perform(d, {"hotpRadio", "serialEdit=" + serial, "seedEdit=" + kSeed40, "saveButton"});
        });
    };
    auto xmlSerials = [&] {
        QStringList serials;
        const SeedDocument document = load_seed_document(OtpAlgorithm::Hotp, dir.path());
        for (pugi::xml_node token : document.xml.child("data").child("tokens").children("token"))
            serials << token.child_value("serial");
        return serials;
    };
    const SeedFileToken other{
        OtpAlgorithm::Hotp, OtpHash::Sha1, 6, 30, "OTHER", std::vector<uint8_t>(20, 0x5A), ""};
    ASSERT_EQ(export_seed_files(dir.path(), other), "");
    saveWhile("VK100000105", [&] { QFile::rename(xml, dir.filePath("moved.xml")); });
    EXPECT_EQ(xmlSerials(), QStringList{"VK100000105"});
    saveWhile("VK100000106", [&] { export_seed_files(dir.path(), other); });
    EXPECT_EQ(xmlSerials(), (QStringList{"VK100000105", "OTHER", "VK100000106"}));
}

// Through the dialog and the linked library: the key computes the RFC value
// of the seed that the CSV files give the server.
TEST_F(NewTokenTest, KeyAgreesWithTheExportedSeeds)
{
    ASSERT_EQ(::setenv("VN_KEY_DIR", key.keyDir().c_str(), 1), 0);
    LinkedDeviceApi linked;
    FakeMainWindow linkedWindow(linked);
    for (const QStringList& radios : {QStringList{"totpRadio", "sha256Radio", "digits8Radio"},
                                      QStringList{"hotpRadio", "sha1Radio", "digits6Radio"}})
        run(
            [&](QWidget* d) {
                perform(d, radios + QStringList{"generateSeedButton", "saveButton"});
            },
            &linkedWindow);

    // The first row of each UTF-16LE CSV file, after its header.
    auto csvRow = [&](const char* name) {
        QFile file(dir.filePath(name));
        const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        const auto* utf16 = reinterpret_cast<const char16_t*>(bytes.constData());
        return QString::fromUtf16(utf16, bytes.size() / 2).split("\r\n").value(1).split(',');
    };
    const QStringList totp = csvRow("tseeds.csv"), hotp = csvRow("hseeds.csv");
    const std::string totpSeed = decodeBase32(totp.value(2).toStdString());
    const std::string hotpSeed = QByteArray::fromHex(hotp.value(1).toLatin1()).toStdString();
    ASSERT_EQ(totpSeed.size(), 32u);
    ASSERT_EQ(hotpSeed.size(), 20u);
    auto keyOtp = [&](const QString& serial, const std::string& challenge) {
        const OtpTokenRecord record = tokenRecord(serial.toStdString(), 0, "", 0, 0, 0);
        char otp[VN_OTP_BUFFER_SIZE] = {};
        uint32_t reserved = 0;
        const uint32_t status =
            linked.OtpCalculate(record, challenge.data(), static_cast<uint32_t>(challenge.size()),
                                otp, &reserved, "1234", 4);
        return status == VN_OK ? std::string(otp) : "status " + std::to_string(status);
    };
    const std::string when = "2024-05-01 13:07:55";
    const auto step = static_cast<uint64_t>(epochOfLocalTime(when).value_or(0)) / 30;
    EXPECT_EQ(keyOtp(totp.value(1), when), referenceOtp(totpSeed, step, 8, true));
    EXPECT_EQ(keyOtp(hotp.value(0), ""), referenceOtp(hotpSeed, 0, 6, false));
    EXPECT_EQ(keyOtp(hotp.value(0), ""), referenceOtp(hotpSeed, 1, 6, false));
}

} // namespace
