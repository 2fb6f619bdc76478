// The New Token command as the main window sees it, and end to end through
// the linked device library.

#include "ProgrammingTestSupport.h"

#include "programming/NewTokenFlow.h"
#include "support/ScriptedDevice.h"
#include "support/VirtualKeyDevice.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <spdlog/sinks/ostream_sink.h>
#include <spdlog/spdlog.h>

#include <ctime>
#include <iomanip>
#include <memory>
#include <sstream>

namespace {

template <class T> T* child(QWidget* dialog, const char* name)
{
    return dialog->findChild<T*>(name);
}

// On the New Token dialog: chooses the options, draws a seed, presses Save.
// On the PIN dialog: types `pin` and presses OK.
std::function<void(QWidget*)> user(QStringList radios, bool appendEnter = true, QString pin = {})
{
    return [=](QWidget* dialog) {
        if (dialog->objectName() == "PinDlg") {
            child<QLineEdit>(dialog, "pinEdit")->setText(pin);
            child<QPushButton>(dialog, "okButton")->click();
            return;
        }
        for (const QString& radio : radios)
            child<QRadioButton>(dialog, qPrintable(radio))->click();
        child<QCheckBox>(dialog, "appendEnterCheck")->setChecked(appendEnter);
        child<QPushButton>(dialog, "generateSeedButton")->click();
        child<QPushButton>(dialog, "saveButton")->click();
    };
}

// The fields of the first row of a UTF-16LE CSV file (after its header).
QStringList firstCsvRow(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    const QString text =
        QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.constData()), bytes.size() / 2);
    return text.split("\r\n").value(1).split(',');
}

} // namespace

class NewTokenFlowTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<VirtualKeyDevice> m_key;
    std::unique_ptr<ScriptedDevice> m_device;
    std::unique_ptr<TouchWatch> m_watch;
    std::unique_ptr<TestWindow> m_window;
    std::ostringstream m_log;

    QStringList files() const { return QDir(m_dir->path()).entryList(QDir::Files); }
    int run(std::function<void(QWidget*)> act)
    {
        ModalDriver driver(std::move(act));
        OnNewToken(*m_window, m_dir->path());
        return driver.seen;
    }

private slots:
    void initTestCase()
    {
        auto sink = std::make_shared<spdlog::sinks::ostream_sink_mt>(m_log);
        spdlog::set_default_logger(std::make_shared<spdlog::logger>("test", sink));
    }
    void init()
    {
        m_log.str({});
        m_dir = std::make_unique<QTemporaryDir>();
        m_key = std::make_unique<VirtualKeyDevice>("VK1000001");
        m_device = std::make_unique<ScriptedDevice>(*m_key);
        m_watch = std::make_unique<TouchWatch>(*m_device);
        m_window = std::make_unique<TestWindow>(*m_watch);
        m_window->keySerialNumber = "VK1000001";
        m_window->listedSerials = {"VK100000101", "VK100000103"};
    }
    void cleanup()
    {
        m_window.reset();
        m_watch.reset();
        m_device.reset();
        m_key.reset();
        m_dir.reset();
    }

    void savedTokenIsReportedThenEnterIsSetAndTheListRefreshed_data()
    {
        QTest::addColumn<bool>("brokenXml");
        QTest::newRow("seed files written") << false;
        QTest::newRow("XML file not a seed file") << true;
    }
    void savedTokenIsReportedThenEnterIsSetAndTheListRefreshed()
    {
        QFETCH(bool, brokenXml);
        const QString xml = QDir(m_dir->path()).filePath("hseeds.xml");
        if (brokenXml) {
            QFile file(xml);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write("<data>") == 6);
        }
        QString proposed;
        QCOMPARE(run([&](QWidget* dialog) {
                     proposed = child<QLineEdit>(dialog, "serialEdit")->text();
                     user({"hotpRadio"}, false)(dialog);
                 }),
                 1);

        QCOMPARE(proposed, "VK100000104");
        const auto stored = m_key->storedTokens();
        QCOMPARE(stored.size(), std::size_t{1});
        const QString seed =
            QByteArray(reinterpret_cast<const char*>(stored[0].seed), 20).toHex().toUpper();
        const QString report = "Save new token succeeded!\r\nSN=VK100000104, SEED=" + seed + "\r\n";
        QCOMPARE(m_window->events.mid(1), (QStringList{"Set C/R succeeded!\r\n", "<refresh>"}));
        if (brokenXml) { // the unrecorded seed is named after the success lines
            const QStringList lines = m_window->events[0].split("\r\n", Qt::SkipEmptyParts);
            QCOMPARE(lines.size(), 3);
            QVERIFY(m_window->events[0].startsWith(report + "Failed to record the new token in " +
                                                   QDir::toNativeSeparators(xml) + ": "));
        } else {
            QCOMPARE(m_window->events[0], report);
        }
        QVERIFY(!m_key->enterFlag());
        QVERIFY(m_window->isControlEnabled(ControlId::GetOtp));
        QCOMPARE(m_window->listedSerials, std::vector<std::string>{"VK100000104"});
        QCOMPARE(m_watch->statusDuringTouch, QStringList{"Please touch the key..."});
        QCOMPARE(m_watch->busyDuringTouch, std::vector<bool>{true});
        QCOMPARE(files(), (QStringList{"hseeds.csv", "hseeds.xml"}));
        QVERIFY2(m_log.str().find(seed.toStdString()) == std::string::npos, "no seed in a log");
    }

    void withoutProgrammingOnlyAFailureIsReported_data()
    {
        QTest::addColumn<QString>("ending");
        QTest::addColumn<QStringList>("events");
        QTest::newRow("Cancel") << "cancelButton" << QStringList{};
        QTest::newRow("close box") << "" << QStringList{};
        QTest::newRow("touch timeout")
            << "saveButton" << QStringList{"Failed to save the new token (error = 0x800A6984)\r\n"};
    }
    void withoutProgrammingOnlyAFailureIsReported()
    {
        QFETCH(QString, ending);
        QFETCH(QStringList, events);
        m_key->setTouchNever(20);
        QCOMPARE(run([&](QWidget* dialog) {
                     child<QPushButton>(dialog, "generateSeedButton")->click();
                     if (!ending.isEmpty())
                         child<QPushButton>(dialog, qPrintable(ending))->click();
                 }),
                 1);
        QCOMPARE(m_window->events, events);
        QCOMPARE(m_device->count(DeviceCall::OtpPersonalize), events.size());
        QCOMPARE(m_device->count(DeviceCall::OtpSetValueWithEnter), 0);
        QVERIFY(m_window->enabledState.empty());
        QCOMPARE(files(), QStringList());
    }

    void pinIsAskedForPassedOnAndCached_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::newRow("right PIN") << "1234";
        QTest::newRow("wrong PIN") << "9999";
    }
    void pinIsAskedForPassedOnAndCached()
    {
        QFETCH(QString, typed);
        QCOMPARE(m_key->OtpSetAccess(VN_SLOT_ALL, "1234", 4), VN_OK);
        const int dialogs = run(user({}, true, typed));
        if (typed == "1234") {
            QCOMPARE(dialogs, 2);
            QCOMPARE(m_window->cachedPin, "1234");
            QCOMPARE(m_device->callsOf(DeviceCall::OtpPersonalize).at(0).access,
                     std::string("1234"));
            QCOMPARE(m_key->storedTokens().size(), std::size_t{1});
        } else {
            QCOMPARE(dialogs, 1); // no New Token dialog
            QCOMPARE(m_window->events, QStringList{"<status:PIN is incorrect.>"});
            QCOMPARE(m_window->cachedPin, QString());
            QCOMPARE(m_device->count(DeviceCall::OtpPersonalize), 0);
            QVERIFY(
                m_log.str().find("[OnNewToken] Failed to query_pin_ifn. Error=PIN is incorrect.") !=
                std::string::npos);
        }
    }

    // Through the dialog and the linked library, as the program runs: the key
    // must compute the RFC value of the seed the CSV files give the server.
    void keyAgreesWithTheExportedSeeds()
    {
        QTemporaryDir keys;
        const QByteArray keyDirBefore = qgetenv("VN_KEY_DIR");
        auto restore = qScopeGuard([&] { qputenv("VN_KEY_DIR", keyDirBefore); });
        qputenv("VN_KEY_DIR", QDir(keys.path()).filePath("keys").toLocal8Bit()); // one fresh key
        LinkedDeviceApi linked;
        TestWindow window(linked);
        for (const auto& act : {user({"totpRadio", "sha256Radio", "digits8Radio"}),
                                user({"hotpRadio", "sha1Radio", "digits6Radio"})}) {
            ModalDriver driver(act);
            OnNewToken(window, m_dir->path());
        }
        QCOMPARE(window.listedSerials.size(), std::size_t{2});

        const QStringList totp = firstCsvRow(QDir(m_dir->path()).filePath("tseeds.csv"));
        const QStringList hotp = firstCsvRow(QDir(m_dir->path()).filePath("hseeds.csv"));
        const std::vector<uint8_t> totpSeed = decodeBase32(totp.value(2).toStdString());
        const QByteArray hotpBytes = QByteArray::fromHex(hotp.value(1).toLatin1());
        const std::vector<uint8_t> hotpSeed(hotpBytes.begin(), hotpBytes.end());
        QCOMPARE(totpSeed.size(), std::size_t{32});
        QCOMPARE(hotpSeed.size(), std::size_t{20});

        auto keyOtp = [&](const QString& serial, const std::string& challenge) {
            OtpTokenRecord record{};
            record.slot = VN_SLOT_ALL;
            std::strncpy(record.serial, qPrintable(serial), sizeof record.serial - 1);
            char otp[VN_OTP_BUFFER_SIZE] = {};
            uint32_t reserved = 0;
            const uint32_t status =
                linked.OtpCalculate(record, challenge.data(),
                                    static_cast<uint32_t>(challenge.size()), otp, &reserved, "", 0);
            return status == VN_OK ? std::string(otp) : "status " + std::to_string(status);
        };
        const std::string when = "2024-05-01 13:07:55";
        std::tm local{};
        std::istringstream(when) >> std::get_time(&local, "%Y-%m-%d %H:%M:%S");
        local.tm_isdst = -1;
        const auto step = static_cast<uint64_t>(std::mktime(&local)) / 30;
        QCOMPARE(keyOtp(totp.value(1), when), referenceOtp(totpSeed, step, 8, true));
        QCOMPARE(keyOtp(hotp.value(0), ""), referenceOtp(hotpSeed, 0, 6, false)); // counts from 0
        QCOMPARE(keyOtp(hotp.value(0), ""), referenceOtp(hotpSeed, 1, 6, false));
    }
};

QTEST_MAIN(NewTokenFlowTest)
#include "NewTokenFlowTest.moc"
