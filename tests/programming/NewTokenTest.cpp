// New Token against the virtual key with a PIN set: the dialog's refusals,
// what Save programs and records, and what the Messages panel then says.

#include "app/NewTokenFlow.h"
#include "programming/CNewTokenDlg.h"
#include "records/SeedFileRecorder.h"
#include "support/FakeMainWindow.h"
#include "support/FileSizeLimit.h"
#include "support/ModalDriver.h"
#include "support/OtpReference.h"
#include "support/VirtualKeyDevice.h"

#include "KeyState.h"

#include <QAccessible>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>

using namespace otp;
using namespace otp::core;
using namespace otp::device;
using namespace otp::pskc;
using namespace otp::records;
using namespace otp::programming;
using namespace otp::app;

namespace {

const QString kSeed40 = "3132333435363738393031323334353637383930";

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The status line as shown, and as a screen reader announces it.
QStringList status(QWidget* dialog)
{
    auto* line = dialog->findChild<QLabel*>("statusLine");
    return {line->text(), QAccessible::queryAccessibleInterface(line)->text(QAccessible::Name)};
}

class NewTokenTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(key.OtpSetAccess(VN_SLOT_ALL, "1234", 4), VN_OK);
        window.windowState.listedSerials = {"VK100000101", "VK100000103"};
        window.windowState.keySerialNumber = "VK1000001";
        window.windowState.seedFolder = folder;
    }
    // Runs New Token; the PIN dialog gets 1234, the New Token dialog `act`.
    void run(const std::function<void(QWidget*)>& act)
    {
        window.clearRecords();
        key.clearCalls();
        ModalDriver modals([&](QWidget* dialog) {
            if (dialog->objectName() != "PinDlg")
                return act(dialog);
            perform(dialog, {"pinEdit=1234", "okButton"});
        });
        OnNewToken(window);
    }
    QStringList files() const { return QDir(dir.path()).entryList(QDir::Files); }
    // Records a HOTP token into the seed files, as another tool would.
    void recordElsewhere(const std::string& serial)
    {
        const TokenDescription token{.algorithm = OtpAlgorithm::Hotp,
                                     .serial = serial,
                                     .seed = SecretBytes(std::vector<uint8_t>(20, 0x5A)),
                                     .user = {}};
        for (const RecordOutcome& outcome : SeedFileRecorder(folder).record(token, "VK9"))
            ASSERT_TRUE(outcome.recorded()) << outcome.failure->detail;
    }

    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
    VirtualKeyDevice key;
    FakeMainWindow window{key};
};

// Refused before the key is touched, in the status line, with the dialog
// left open: the form's own checks, then a seed file that holds someone
// else's tokens, which is left as it was. A key that is never touched is
// reported alone, and no file is written.
TEST_F(NewTokenTest, SaveRefusesWhatTheKeyOrTheSeedFilesCannotTake)
{
    const QString xml = dir.filePath("tseeds.xml");
    QFile foreign(xml);
    ASSERT_TRUE(foreign.open(QIODevice::WriteOnly) && foreign.write("<other/>") == 8);
    foreign.close();
    ASSERT_TRUE(foreign.setPermissions(QFile::ReadOwner | QFile::WriteOwner));
    const QString sn = "serialEdit=VK100000101", seed40 = "seedEdit=" + kSeed40;
    const std::vector<std::pair<QStringList, QString>> cases = {
        {{"serialEdit=", seed40}, "Please enter a serial number."},
        {{sn, "seedEdit=" + kSeed40.left(38) + "zz"}, "Invalid seed format!"},
        {{sn, "seedEdit=" + kSeed40 + "3132"}, "SHA-1 needs a seed of 40 hexadecimal digits."},
        {{sn, "sha256Radio", seed40}, "SHA-256 needs a seed of 64 hexadecimal digits."},
        {{sn, seed40, "userNameEdit=a\nb"},
         "The user name must not contain a control character such as a line break, nor an "
         "invisible or direction-changing one."},
        {{"serialEdit=VK1\u202E10", seed40},
         "The serial number must not contain a control character such as a line break, nor an "
         "invisible or direction-changing one."},
        {{sn, seed40, "userNameEdit=ann\u200B"},
         "The user name must not contain a control character such as a line break, nor an "
         "invisible or direction-changing one."},
        // Without the command line's way out, which names its options.
        {{sn, seed40, "userNameEdit=Doe, Jane"},
         "The user name must not contain a comma or a double quote: the CSV seed file cannot "
         "hold them."},
        {{sn, seed40},
         xml + " has no data/tokens element; it is left alone. Move it away, or repair it, and "
               "try again."},
    };
    for (const auto& [steps, message] : cases) {
        SCOPED_TRACE(steps.join(' ').toStdString());
        run([&](QWidget* d) {
            perform(d, steps + QStringList{"saveButton"});
            EXPECT_EQ(status(d), (QStringList{message, message}));
            EXPECT_TRUE(d->isVisible());
        });
        EXPECT_EQ(key.count(DeviceCall::OtpPersonalize), 0);
    }
    key.setTouchNever(20); // a HOTP token, whose seed files would take it
    run([&](QWidget* d) { perform(d, {"hotpRadio", sn, seed40, "saveButton"}); });
    EXPECT_EQ(window.events, QStringList{"Failed to save the new token (error = 0x800A6984)\r\n"});
    EXPECT_EQ(key.count(DeviceCall::OtpPersonalize), 1);
    EXPECT_EQ(key.count(DeviceCall::OtpSetValueWithEnter), 0);
    EXPECT_EQ(files(), QStringList{"tseeds.xml"});
    EXPECT_EQ(contents(xml), "<other/>");
}

// A save programs the record as chosen (a HOTP token keeps the interval too),
// under the serial proposed after the listed ones and with the seed the CSV
// file gives the server, then reports, sets ENTER and refreshes, in that order.
TEST_F(NewTokenTest, SaveProgramsAndRecordsTheChosenTokenThenReportsSetsEnterAndRefreshes)
{
    // steps (a generated seed, or a typed one), record, ENTER, seed file
    using Case = std::tuple<QStringList, OtpTokenRecord, bool, QString>;
    const Case cases[] = {
        {{"sha256Radio", "digits8Radio", "interval60Radio", "generateSeedButton"},
         tokenRecord("VK100000104", VN_TYPE_TOTP, "", VN_HASH_SHA256, 8, 60),
         true,
         "tseeds"},
        {{"hotpRadio", "interval60Radio", "appendEnterCheck", "seedEdit=" + kSeed40.toLower()},
         tokenRecord("VK100000105", VN_TYPE_HOTP, "", VN_HASH_SHA1, 6, 60),
         false,
         "hseeds"},
    };
    for (auto [steps, record, enter, file] : cases) {
        SCOPED_TRACE(record.serial);
        QString seed;
        run([&](QWidget* d) {
            perform(d, steps + QStringList{"userNameEdit=ann"});
            seed = d->findChild<QLineEdit*>("seedEdit")->text();
            perform(d, {"saveButton"});
        });
        const QByteArray bytes = QByteArray::fromHex(seed.toLatin1());
        record.seedLength = static_cast<uint32_t>(bytes.size());
        std::memcpy(record.seed, bytes.data(), record.seedLength);
        const auto calls = key.callsOf(DeviceCall::OtpPersonalize);
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(std::memcmp(&calls[0].record, &record, sizeof record), 0);
        EXPECT_EQ(calls[0].access, "1234");
        // A refusal left in the status line by an earlier attempt is gone.
        EXPECT_EQ(window.events,
                  (QStringList{"<status:>",
                               "Save new token succeeded!\r\nSN=" + QString(record.serial) +
                                   ", SEED=" + seed + "\r\n",
                               "Set C/R succeeded!\r\n", "<refresh>"}));
        EXPECT_EQ(key.keyState().enter, enter);
        // The CSV row's seed, base32 for TOTP and hexadecimal for HOTP, is the one programmed.
        const QByteArray csv = contents(dir.filePath(file + ".csv"));
        const auto utf16 = reinterpret_cast<const char16_t*>(csv.data());
        const QStringList row =
            QString::fromUtf16(utf16, csv.size() / 2).split("\r\n").value(1).split(',');
        EXPECT_EQ(file == "tseeds" ? decodeBase32(row.value(2).toStdString())
                                   : QByteArray::fromHex(row.value(1).toLatin1()).toStdString(),
                  bytes.toStdString());
        EXPECT_EQ(files().filter(file), (QStringList{file + ".csv", file + ".xml"}));
    }
}

// The touch prompt goes as soon as the key took the token: the seed files
// are written without it, also for a screen reader.
TEST_F(NewTokenTest, TheTouchPromptIsGoneBeforeTheSeedFilesAreWritten)
{
    struct Watcher final : Recorder
    {
        std::function<void()> look;
        OpResult<std::vector<const OpenFolder*>> open_folders() override
        {
            return std::vector<const OpenFolder*>();
        }
        OpResult<void> check(const TokenDescription&) override { return {}; }
        std::vector<RecordOutcome> record(const TokenDescription&, std::string_view) override
        {
            look();
            return {};
        }
    } watcher;
    Recorder* const recorders[] = {&watcher};
    CNewTokenDlg dialog(key, "VK1000001", "1234", "VK100000102", recorders);
    QStringList seen; // as the key is asked to take the token, then as it is recorded
    watcher.look = [&] { seen << status(&dialog); };
    key.beforeCall = [&](DeviceCall call) {
        if (call == DeviceCall::OtpPersonalize)
            watcher.look();
    };
    dialog.show();
    perform(&dialog, {"seedEdit=" + kSeed40, "saveButton"});
    EXPECT_EQ(dialog.saveResult(), kProgrammingSucceeded);
    EXPECT_EQ(seen, (QStringList{"Please touch the key...", "Please touch the key...", "", ""}));
}

// A disk that fills up between programming the key (whose file is small) and
// recording the seed files (large): the Messages panel shows the token with
// its seed and names every file it could not reach, which stay as they were.
TEST_F(NewTokenTest, AFullDiskIsReportedInTheMessagesPanelWithTheSeed)
{
    for (int n = 0; n < 40; ++n)
        recordElsewhere("OLD" + std::to_string(n));
    const QString xml = dir.filePath("hseeds.xml"), csv = dir.filePath("hseeds.csv");
    const QByteArray oldXml = contents(xml), oldCsv = contents(csv);
    run([&](QWidget* d) {
        perform(d, {"hotpRadio", "serialEdit=VK100000102", "seedEdit=" + kSeed40});
        const FileSizeLimit full(static_cast<rlim_t>(std::min(oldXml.size(), oldCsv.size())));
        perform(d, {"saveButton"});
    });
    ASSERT_EQ(window.events.size(), 4) << window.events.join("|").toStdString();
    const QStringList lines = window.events[1].split("\r\n", Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4) << window.events[1].toStdString();
    EXPECT_EQ(lines[0], "Save new token succeeded!");
    EXPECT_EQ(lines[1], "SN=VK100000102, SEED=" + kSeed40);
    EXPECT_TRUE(lines[2].startsWith("Failed to record the new token in " + xml + ": "));
    EXPECT_TRUE(lines[3].startsWith("Failed to record the new token in " + csv + ": "));
    EXPECT_EQ(contents(xml), oldXml);
    EXPECT_EQ(contents(csv), oldCsv);
    EXPECT_EQ(key.storedSerials(), std::vector<std::string>{"VK100000102"});
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
        QStringList serials;
        const SeedDocument document = load_seed_document(OtpAlgorithm::Hotp, folder);
        for (pugi::xml_node token : document.xml.child("data").child("tokens").children("token"))
            serials << token.child_value("serial");
        return serials;
    };
    recordElsewhere("OTHER");
    EXPECT_EQ(saveWhile("VK100000105", [&] { QFile::rename(xml, dir.filePath("moved.xml")); }),
              QStringList{"VK100000105"});
    EXPECT_EQ(saveWhile("VK100000106", [&] { recordElsewhere("OTHER"); }),
              (QStringList{"VK100000105", "OTHER", "VK100000106"}));
}

} // namespace
