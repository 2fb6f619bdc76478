// The New Token command against the in-process virtual key, with a PIN set:
// the dialog as the user meets it, what reaches the key, the lines in the
// Messages panel and the seed files; then end to end through the linked library.

#include "programming/NewTokenFlow.h"
#include "support/FakeMainWindow.h"
#include "support/ForwardingDevice.h"
#include "support/ModalDriver.h"
#include "support/OtpReference.h"
#include "support/ScriptedDevice.h"
#include "support/VirtualKeyDevice.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>
#include <spdlog/sinks/ostream_sink.h>
#include <spdlog/spdlog.h>

#include <cstdlib>
#include <sstream>
#include <tuple>

namespace {

const QString kSeed40 = "3132333435363738393031323334353637383930";
const QString kSeed64 = kSeed40 + "313233343536373839303132";

class NewTokenTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        log.str({});
        auto sink = std::make_shared<spdlog::sinks::ostream_sink_mt>(log);
        spdlog::set_default_logger(std::make_shared<spdlog::logger>("test", sink));
        ASSERT_EQ(key.OtpSetAccess(VN_SLOT_ALL, "1234", 4), VN_OK);
        window.keySerialNumber = "VK1000001";
        window.listedSerials = {"VK100000101", "VK100000103"};
    }

    // Runs New Token on `on`: the PIN dialog gets `pin`, the New Token dialog
    // `act`. Returns how many dialogs opened.
    int run(std::function<void(QWidget*)> act, const QString& pin = "1234",
            MainWindowPort* on = nullptr)
    {
        ModalDriver modals([&](QWidget* dialog) {
            if (dialog->objectName() != "PinDlg")
                return act(dialog);
            perform(dialog, {"pinEdit=" + pin, "okButton"});
        });
        OnNewToken(on ? *on : window, dir.path());
        return modals.dialogsSeen();
    }
    QStringList files() const { return QDir(dir.path()).entryList(QDir::Files); }

    // A dialog's controls by object name.
    template <class T = QWidget> static T* w(QWidget* d, const QString& name)
    {
        return d->findChild<T*>(name);
    }
    static QString text(QWidget* d, const char* edit) { return w<QLineEdit>(d, edit)->text(); }
    static QString status(QWidget* d) { return w<QLabel>(d, "statusLine")->text(); }
    // The object names of the checked buttons, in the dialog's order.
    static QStringList checkedButtons(QWidget* d)
    {
        QStringList names;
        for (auto* button : d->findChildren<QAbstractButton*>())
            if (button->isChecked())
                names << button->objectName();
        return names;
    }

    static inline std::ostringstream log; // outlives the default logger's sink
    QTemporaryDir dir;
    VirtualKeyDevice key;
    ScriptedDevice device{key};
    QStringList touches; // the dialog's status line, and "|busy", at each Personalize
    TouchWatchDevice watched{device, [this] {
                                 QWidget* d = QApplication::activeModalWidget();
                                 touches << (d ? status(d) : "<no dialog>") +
                                                (waitCursorShown() ? "|busy" : "");
                             }};
    FakeMainWindow window{watched};
};

TEST_F(NewTokenTest, DialogOpensWithDefaultsAndEachGenerateKeepsTheOtherFields)
{
    run([](QWidget* d) {
        EXPECT_EQ(d->windowTitle(), "New Token");
        EXPECT_EQ(checkedButtons(d), (QStringList{"totpRadio", "sha1Radio", "digits6Radio",
                                                  "interval30Radio", "appendEnterCheck"}));
        EXPECT_EQ(text(d, "serialEdit"), "VK100000104"); // after the highest listed number
        EXPECT_EQ(text(d, "seedEdit") + text(d, "userNameEdit") + status(d), "");
        // Nothing is ever disabled (the interval neither under HOTP), every
        // control is named, and no push button takes Enter for itself.
        perform(d, {"hotpRadio"});
        for (QWidget* c : d->findChildren<QWidget*>()) {
            const std::string name = c->objectName().toStdString();
            EXPECT_TRUE(c->isEnabled()) << name;
            const bool named = qobject_cast<QAbstractButton*>(c) || qobject_cast<QLineEdit*>(c);
            EXPECT_FALSE((named || name == "statusLine") && c->accessibleName().isEmpty()) << name;
            auto* button = qobject_cast<QPushButton*>(c);
            EXPECT_FALSE(button && (button->autoDefault() || button->isDefault())) << name;
        }
        QStringList names;
        for (const char* name : {"serialEdit", "seedEdit", "userNameEdit", "interval60Radio"})
            names << w(d, name)->accessibleName();
        for (const char* name : {"generateSerialButton", "generateSeedButton", "statusLine"})
            names << w(d, name)->accessibleDescription();
        EXPECT_EQ(names, (QStringList{"Serial Number:", "Seed/Secret:", "Username:", "60 Seconds",
                                      "Generate serial number", "Generate seed", "Message"}));

        perform(d, {"sha256Radio", "digits8Radio", "interval60Radio", "appendEnterCheck",
                    "serialEdit=x", "seedEdit=nothex", "userNameEdit=ann", "saveButton",
                    "generateSerialButton"});
        const QString serial = text(d, "serialEdit");
        EXPECT_TRUE(QRegularExpression("^0000[1-9]{9}$").match(serial).hasMatch())
            << serial.toStdString();
        EXPECT_EQ(text(d, "seedEdit"), "nothex");
        perform(d, {"generateSeedButton"});
        EXPECT_TRUE(QRegularExpression("^[0-9A-F]{64}$").match(text(d, "seedEdit")).hasMatch());
        perform(d, {"sha1Radio"}); // the seed is drawn anew only by the button
        EXPECT_EQ(text(d, "seedEdit").size(), 64);
        perform(d, {"generateSeedButton"});
        EXPECT_TRUE(QRegularExpression("^[0-9A-F]{40}$").match(text(d, "seedEdit")).hasMatch());
        EXPECT_EQ(text(d, "serialEdit") + text(d, "userNameEdit"), serial + "ann");
        EXPECT_EQ(checkedButtons(d),
                  (QStringList{"hotpRadio", "sha1Radio", "digits8Radio", "interval60Radio"}));
        EXPECT_EQ(status(d), "Invalid seed format!"); // from the Save, until the next one
    });
    EXPECT_EQ(window.cachedPin, "1234");
    EXPECT_TRUE(window.events.isEmpty());
    EXPECT_EQ(device.count(DeviceCall::OtpPersonalize), 0);
}

// Save refuses with a message in the dialog's status line, stays open for a
// correction, and programs and writes nothing.
TEST_F(NewTokenTest, SaveRefusesWhatTheKeyOrTheSeedFilesCannotTake)
{
    const QString sn = "serialEdit=VK100000101", seed40 = "seedEdit=" + kSeed40;
    const QString csv = "The serial number must not contain a comma, a double quote or a line "
                        "break.";
    const QString user = "The user name must not contain a comma, a double quote or a line break.";
    const QString sha1 = "SHA-1 needs a seed of 40 hexadecimal digits.";
    const std::vector<std::pair<QStringList, QString>> cases = {
        {{"serialEdit=", seed40}, "Please enter a serial number."},
        {{"serialEdit=VK100000101234", seed40},
         "The serial number is too long (at most 13 characters)."},
        {{"serialEdit=VK1,01", seed40}, csv},
        {{"serialEdit=VK1\"01", seed40}, csv},
        {{sn, "seedEdit=" + kSeed40.left(38) + "zz"}, "Invalid seed format!"},
        {{sn, "seedEdit="}, sha1},
        {{sn, "seedEdit=" + kSeed64}, sha1},
        {{sn, "sha256Radio", seed40}, "SHA-256 needs a seed of 64 hexadecimal digits."},
        {{sn, seed40, "userNameEdit=Doe, Ann"}, user},
        {{sn, seed40, "userNameEdit=\"ann\""}, user},
        {{sn, seed40, "userNameEdit=a\nb"}, user},
        {{sn, seed40, "userNameEdit=a\rb"}, user},
    };
    for (const auto& [steps, message] : cases) {
        SCOPED_TRACE(steps.join(' ').toStdString());
        run([&](QWidget* d) {
            perform(d, steps + QStringList{"saveButton"});
            EXPECT_EQ(status(d), message);
            EXPECT_TRUE(d->isVisible());
        });
    }
    EXPECT_EQ(device.count(DeviceCall::OtpPersonalize), 0);
    EXPECT_TRUE(window.events.isEmpty());
    EXPECT_EQ(files(), QStringList());
}

// Enter in an edit, Cancel, Escape and the close box end the dialog without
// programming; programming that fails (the key was not touched) is reported
// alone. Either way: no file, no ENTER, no refresh, no button switched.
TEST_F(NewTokenTest, WithoutProgrammingOnlyAFailureIsReported)
{
    key.setTouchNever(20);
    for (const QString how : {"serialEdit", "seedEdit", "userNameEdit", "cancelButton", "escape",
                              "close box", "saveButton"}) {
        SCOPED_TRACE(how.toStdString());
        window.clearRecords();
        device.clearCalls();
        run([&](QWidget* d) {
            perform(d, {"seedEdit=" + kSeed40});
            if (how == "escape")
                QTest::keyClick(d, Qt::Key_Escape);
            else if (how.endsWith("Edit"))
                QTest::keyClick(w(d, how), Qt::Key_Return);
            else if (how == "close box")
                d->close();
            else
                perform(d, {how});
            EXPECT_FALSE(d->isVisible());
        });
        const bool saved = how == "saveButton";
        EXPECT_EQ(window.events,
                  saved ? QStringList{"Failed to save the new token (error = 0x800A6984)\r\n"}
                        : QStringList{});
        EXPECT_EQ(device.count(DeviceCall::OtpPersonalize), saved ? 1 : 0);
        EXPECT_EQ(device.count(DeviceCall::OtpSetValueWithEnter) + window.refreshes, 0);
        EXPECT_TRUE(window.switched.empty());
        EXPECT_EQ(files(), QStringList());
    }
}

// A save programs the record as chosen (a HOTP token keeps the interval too),
// then the lines: the result (and a seed file that failed), ENTER, the refresh.
TEST_F(NewTokenTest, SaveProgramsTheChosenRecordThenReportsSetsEnterAndRefreshes)
{
    const std::string seed20 = QByteArray::fromHex(kSeed40.toLatin1()).toStdString();
    const std::string seed32 = QByteArray::fromHex(kSeed64.toLatin1()).toStdString();
    using Case = std::tuple<QStringList, QString, OtpTokenRecord, bool, QString>;
    const std::vector<Case> cases = {
        // steps, seed text, record, ENTER, seed file
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
    QFile broken(dir.filePath("hseeds.xml")); // not a seed file: left alone, reported
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly) && broken.write("<data>") == 6);
    broken.close();
    for (const auto& [steps, seed, record, enter, file] : cases) {
        SCOPED_TRACE(record.serial);
        window.clearRecords();
        device.clearCalls();
        touches.clear();
        const QString serial = record.serial;
        run([&](QWidget* d) {
            perform(d, steps + QStringList{"serialEdit=" + serial, "seedEdit=" + seed,
                                           "userNameEdit=ann", "saveButton"});
        });

        const auto calls = device.callsOf(DeviceCall::OtpPersonalize);
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(std::memcmp(&calls[0].record, &record, sizeof record), 0);
        EXPECT_EQ(calls[0].access, "1234");
        EXPECT_EQ(calls[0].flag, 1);
        EXPECT_EQ(touches, QStringList{"Please touch the key...|busy"});
        QString report = "Save new token succeeded!\r\nSN=" + serial + ", SEED=" + seed + "\r\n";
        if (file == "hseeds") // the seed that was not recorded comes after the success lines
            report += "Failed to record the new token in " +
                      QDir::toNativeSeparators(broken.fileName()) + ": ";
        ASSERT_EQ(window.events.size(), 3);
        EXPECT_TRUE(window.events[0].startsWith(report)) << window.events[0].toStdString();
        EXPECT_EQ(window.events[0].count("\r\n"), file == "hseeds" ? 3 : 2);
        EXPECT_EQ(window.events.mid(1), (QStringList{"Set C/R succeeded!\r\n", "<refresh>"}));
        EXPECT_EQ(key.enterFlag(), enter);
        EXPECT_TRUE(window.isControlEnabled(ControlId::GetOtp));
        EXPECT_EQ(files().filter(file), (QStringList{file + ".csv", file + ".xml"}));
        EXPECT_EQ(log.str().find(seed.toStdString()), std::string::npos) << "a seed was logged";
    }
}

TEST_F(NewTokenTest, AWrongPinEndsTheCommandOnTheStatusLineAndInTheLog)
{
    EXPECT_EQ(run([](QWidget*) {}, "9999"), 1); // no New Token dialog
    EXPECT_EQ(window.events, QStringList{"<status:PIN is incorrect.>"});
    EXPECT_EQ(window.cachedPin, "");
    EXPECT_EQ(device.count(DeviceCall::OtpPersonalize), 0);
    EXPECT_NE(log.str().find("[OnNewToken] Failed to query_pin_ifn. Error=PIN is incorrect."),
              std::string::npos);
}

// Through the dialog and the linked library, as the program runs: the key
// must compute the RFC value of the seed that the CSV files give the server.
TEST_F(NewTokenTest, KeyAgreesWithTheExportedSeeds)
{
    ASSERT_EQ(::setenv("VN_KEY_DIR", key.keyDir().c_str(), 1), 0); // the library's key
    LinkedDeviceApi linked;
    FakeMainWindow linkedWindow(linked);
    for (const QStringList& radios : {QStringList{"totpRadio", "sha256Radio", "digits8Radio"},
                                      QStringList{"hotpRadio", "sha1Radio", "digits6Radio"}})
        run(
            [&](QWidget* d) {
                perform(d, radios + QStringList{"generateSeedButton", "saveButton"});
            },
            "1234", &linkedWindow);
    ASSERT_EQ(linkedWindow.listedSerials.size(), 2u);

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
    EXPECT_EQ(keyOtp(hotp.value(0), ""), referenceOtp(hotpSeed, 0, 6, false)); // counts from 0
    EXPECT_EQ(keyOtp(hotp.value(0), ""), referenceOtp(hotpSeed, 1, 6, false));
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
