// The New Token command from the main window's point of view, and end to end
// against the linked device library.

#include "ProgrammingTestSupport.h"

#include "device/DeviceApi.h"
#include "programming/CNewTokenDlg.h"
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

#include <cstring>
#include <ctime>
#include <iomanip>
#include <memory>
#include <sstream>

namespace {

template <class T> T* child(QWidget* dialog, const char* name)
{
    return dialog->findChild<T*>(QLatin1String(name));
}

bool isNewTokenDialog(QWidget* w)
{
    return w->objectName() == QLatin1String("CNewTokenDlg");
}

// Chooses the options, draws a seed and presses Save, as a user does.
std::function<void(QWidget*)> saveToken(std::vector<const char*> radios, bool appendEnter,
                                        QString* seenSerial = nullptr)
{
    return [=](QWidget* dialog) {
        if (!isNewTokenDialog(dialog))
            return;
        if (seenSerial)
            *seenSerial = child<QLineEdit>(dialog, "serialEdit")->text();
        for (const char* name : radios)
            child<QRadioButton>(dialog, name)->click();
        child<QCheckBox>(dialog, "appendEnterCheck")->setChecked(appendEnter);
        child<QPushButton>(dialog, "generateSeedButton")->click();
        child<QPushButton>(dialog, "saveButton")->click();
    };
}

// Rows of a UTF-16LE CSV file, split into fields; the header is dropped.
std::vector<QStringList> csvRows(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    const QString text = QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.constData()),
                                            bytes.size() / 2);
    std::vector<QStringList> rows;
    const QStringList lines = text.split("\r\n", Qt::SkipEmptyParts);
    for (qsizetype i = 1; i < lines.size(); ++i)
        rows.push_back(lines[i].split(','));
    return rows;
}

} // namespace

class NewTokenFlowTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<VirtualKeyDevice> m_key;
    std::unique_ptr<ScriptedDevice> m_scripted;
    std::unique_ptr<TouchWatch> m_watch;
    std::unique_ptr<TestWindow> m_window;
    std::ostringstream m_log;

    QStringList filesWritten() const { return QDir(m_dir->path()).entryList(QDir::Files); }

    std::vector<DeviceCall> keyCalls() const
    {
        std::vector<DeviceCall> out;
        for (const RecordedCall& c : m_scripted->calls())
            if (c.call != DeviceCall::OtpHasAccess && c.call != DeviceCall::OtpChangeAccess &&
                c.call != DeviceCall::OtpList)
                out.push_back(c.call);
        return out;
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
        m_scripted = std::make_unique<ScriptedDevice>(*m_key);
        m_watch = std::make_unique<TouchWatch>(*m_scripted);
        m_window = std::make_unique<TestWindow>(*m_watch);
        m_window->keySerialNumber = "VK1000001";
        m_window->listedSerials = {"VK100000101", "VK100000103"};
    }

    void cleanup()
    {
        m_window.reset();
        m_watch.reset();
        m_scripted.reset();
        m_key.reset();
        m_dir.reset();
    }

    void successfulSaveReportsThenSetsEnterAndRefreshes()
    {
        ModalDriver driver;
        QString proposed;
        driver.arm(saveToken({"hotpRadio"}, false, &proposed));
        OnNewToken(*m_window, m_dir->path());

        QCOMPARE(driver.dialogsSeen(), 1);
        QCOMPARE(proposed, "VK100000104");
        const auto stored = m_key->storedTokens();
        QCOMPARE(stored.size(), std::size_t{1});
        const QString seed =
            QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(stored[0].seed), 20).toHex().toUpper());
        QCOMPARE(m_window->events,
                 (QStringList{"Save new token succeeded!\r\nSN=VK100000104, SEED=" + seed + "\r\n",
                              "Set C/R succeeded!\r\n", "<refresh>"}));
        QCOMPARE(keyCalls(),
                 (std::vector{DeviceCall::OtpPersonalize, DeviceCall::OtpSetValueWithEnter}));
        QCOMPARE(m_scripted->callsOf(DeviceCall::OtpSetValueWithEnter).at(0).flag, uint8_t{0});
        QVERIFY(!m_key->enterFlag());
        QVERIFY(m_window->isControlEnabled(ControlId::GetOtp));
        QCOMPARE(m_window->listedSerials, std::vector<std::string>{"VK100000104"});
        QCOMPARE(m_watch->statusDuringTouch, QStringList{"Please touch the key..."});
        QCOMPARE(m_watch->busyDuringTouch, std::vector<bool>{true});
        QCOMPARE(filesWritten(), (QStringList{"hseeds.csv", "hseeds.xml"}));
        QVERIFY2(m_log.str().find(seed.toStdString()) == std::string::npos, "no seed in the log");
    }

    void closingWithoutSaveChangesNothing_data()
    {
        QTest::addColumn<QString>("button");
        QTest::newRow("Cancel") << "cancelButton";
        QTest::newRow("close box") << "";
    }

    void closingWithoutSaveChangesNothing()
    {
        QFETCH(QString, button);
        ModalDriver driver;
        driver.arm([&](QWidget* dialog) {
            child<QPushButton>(dialog, "generateSeedButton")->click();
            if (!button.isEmpty())
                child<QPushButton>(dialog, qPrintable(button))->click();
            else
                dialog->close();
        });
        OnNewToken(*m_window, m_dir->path());

        QCOMPARE(driver.dialogsSeen(), 1);
        QCOMPARE(m_window->events, QStringList());
        QCOMPARE(keyCalls(), std::vector<DeviceCall>{});
        QVERIFY(m_window->enabledState.empty());
        QCOMPARE(filesWritten(), QStringList());
    }

    void failedProgrammingOnlyReports()
    {
        m_key->setTouchNever(20);
        ModalDriver driver;
        driver.arm(saveToken({}, true));
        OnNewToken(*m_window, m_dir->path());

        QCOMPARE(m_window->events,
                 QStringList{"Failed to save the new token (error = 0x800A6984)\r\n"});
        QCOMPARE(keyCalls(), std::vector{DeviceCall::OtpPersonalize});
        QVERIFY(m_window->enabledState.empty());
        QCOMPARE(filesWritten(), QStringList());
    }

    void pinIsAskedForPassedAndCached_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("right PIN") << "1234" << true;
        QTest::newRow("wrong PIN") << "9999" << false;
    }

    void pinIsAskedForPassedAndCached()
    {
        QFETCH(QString, typed);
        QFETCH(bool, accepted);
        QCOMPARE(m_key->OtpSetAccess(VN_SLOT_ALL, "1234", 4), VN_OK);
        ModalDriver driver;
        auto save = saveToken({}, true);
        driver.arm([&](QWidget* dialog) {
            if (dialog->objectName() == QLatin1String("PinDlg")) {
                child<QLineEdit>(dialog, "pinEdit")->setText(typed);
                child<QPushButton>(dialog, "okButton")->click();
            } else {
                save(dialog);
            }
        });
        OnNewToken(*m_window, m_dir->path());

        if (accepted) {
            QCOMPARE(driver.dialogsSeen(), 2);
            QCOMPARE(m_window->cachedPin, "1234");
            QCOMPARE(m_scripted->callsOf(DeviceCall::OtpPersonalize).at(0).access,
                     std::string("1234"));
            QCOMPARE(m_key->storedTokens().size(), std::size_t{1});
        } else {
            QCOMPARE(driver.dialogsSeen(), 1); // no New Token dialog
            QCOMPARE(m_window->events, QStringList{"<status:PIN is incorrect.>"});
            QCOMPARE(m_window->cachedPin, QString());
            QCOMPARE(m_scripted->count(DeviceCall::OtpPersonalize), 0);
            QVERIFY2(m_log.str().find("[OnNewToken] Failed to query_pin_ifn. Error=PIN is "
                                      "incorrect.") != std::string::npos,
                     m_log.str().c_str());
        }
    }

    // Through the dialog and the linked library, as the program runs: the OTP
    // the key computes must be the RFC value of the seed that the CSV files
    // hand to the authentication server.
    void keyAgreesWithTheExportedSeeds()
    {
        QTemporaryDir keys;
        const QByteArray keyDirBefore = qgetenv("VN_KEY_DIR");
        // A key directory of its own, where the library brings up one fresh key.
        qputenv("VN_KEY_DIR", QDir(keys.path()).filePath("keys").toLocal8Bit());
        auto restore = qScopeGuard([&] { qputenv("VN_KEY_DIR", keyDirBefore); });
        LinkedDeviceApi linked;
        TestWindow window(linked);
        DeviceInfoRecord info{};
        QCOMPARE(linked.GetDeviceInfo(&info), VN_OK);
        window.keySerialNumber = info.serialNumber;

        ModalDriver driver;
        driver.arm(saveToken({"totpRadio", "sha256Radio", "digits8Radio", "interval30Radio"}, true));
        OnNewToken(window, m_dir->path());
        driver.arm(saveToken({"hotpRadio", "sha1Radio", "digits6Radio"}, true));
        OnNewToken(window, m_dir->path());
        QCOMPARE(window.listedSerials.size(), std::size_t{2});

        const auto totpRows = csvRows(QDir(m_dir->path()).filePath("tseeds.csv"));
        const auto hotpRows = csvRows(QDir(m_dir->path()).filePath("hseeds.csv"));
        QCOMPARE(totpRows.size(), std::size_t{1});
        QCOMPARE(hotpRows.size(), std::size_t{1});
        const std::vector<uint8_t> totpSeed = decodeBase32(totpRows[0].at(2).toStdString());
        const QByteArray hotpHex = QByteArray::fromHex(hotpRows[0].at(1).toLatin1());
        const std::vector<uint8_t> hotpSeed(hotpHex.begin(), hotpHex.end());
        QCOMPARE(totpSeed.size(), std::size_t{32});
        QCOMPARE(hotpSeed.size(), std::size_t{20});

        auto calculate = [&](const QString& serial, const std::string& challenge) {
            OtpTokenRecord record{};
            const std::string s = serial.toStdString();
            std::memcpy(record.serial, s.data(), s.size());
            record.slot = VN_SLOT_ALL;
            char otp[VN_OTP_BUFFER_SIZE] = {};
            uint32_t reserved = 0;
            const uint32_t status = linked.OtpCalculate(
                record, challenge.data(), static_cast<uint32_t>(challenge.size()), otp, &reserved,
                "", 0);
            return status == VN_OK ? std::string(otp) : "status " + std::to_string(status);
        };

        const std::string when = "2024-05-01 13:07:55";
        std::tm local{};
        std::istringstream(when) >> std::get_time(&local, "%Y-%m-%d %H:%M:%S");
        local.tm_isdst = -1;
        const auto step = static_cast<uint64_t>(std::mktime(&local)) / 30;
        QCOMPARE(calculate(totpRows[0].at(1), when), referenceOtp(totpSeed, step, 8, true));

        // HOTP counts from 0, one value per calculation.
        QCOMPARE(calculate(hotpRows[0].at(0), ""), referenceOtp(hotpSeed, 0, 6, false));
        QCOMPARE(calculate(hotpRows[0].at(0), ""), referenceOtp(hotpSeed, 1, 6, false));
    }
};

QTEST_MAIN(NewTokenFlowTest)
#include "NewTokenFlowTest.moc"
