// The New Token dialog on its own, against the in-process virtual key.

#include "ProgrammingTestSupport.h"

#include "programming/CNewTokenDlg.h"
#include "support/ScriptedDevice.h"
#include "support/VirtualKeyDevice.h"

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>
#include <memory>

namespace {

const QString kSeed40 = QStringLiteral("3132333435363738393031323334353637383930");
const QString kSeed64 = kSeed40 + QStringLiteral("313233343536373839303132");

struct Choices
{
    const char* algorithm = "totpRadio";
    const char* hash = "sha1Radio";
    const char* digits = "digits6Radio";
    const char* interval = "interval30Radio";
};

} // namespace

class NewTokenDialogTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<VirtualKeyDevice> m_key;
    std::unique_ptr<ScriptedDevice> m_scripted;
    std::unique_ptr<TouchWatch> m_watch;

    std::unique_ptr<CNewTokenDlg> makeDialog(const std::string& access = "",
                                             const std::string& serial = "VK100000101")
    {
        auto dialog =
            std::make_unique<CNewTokenDlg>(*m_watch, access, serial, nullptr, m_dir->path());
        m_watch->dialog = dialog.get();
        return dialog;
    }

    template <class T> static T* child(QWidget& dialog, const char* name)
    {
        return dialog.findChild<T*>(QLatin1String(name));
    }

    static void fill(QWidget& dialog, const Choices& choices, const QString& serial,
                     const QString& seed, const QString& user)
    {
        for (const char* name : {choices.algorithm, choices.hash, choices.digits, choices.interval})
            child<QRadioButton>(dialog, name)->click();
        child<QLineEdit>(dialog, "serialEdit")->setText(serial);
        child<QLineEdit>(dialog, "seedEdit")->setText(seed);
        child<QLineEdit>(dialog, "userNameEdit")->setText(user);
    }

    static QString status(QWidget& dialog) { return child<QLabel>(dialog, "statusLine")->text(); }

    QStringList filesWritten() const { return QDir(m_dir->path()).entryList(QDir::Files); }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_key = std::make_unique<VirtualKeyDevice>("VK1000001");
        m_scripted = std::make_unique<ScriptedDevice>(*m_key);
        m_watch = std::make_unique<TouchWatch>(*m_scripted);
    }

    void cleanup()
    {
        m_watch.reset();
        m_scripted.reset();
        m_key.reset();
        m_dir.reset();
    }

    void opensWithDefaults()
    {
        auto dialog = makeDialog("", "VK100000107");
        QCOMPARE(dialog->windowTitle(), QStringLiteral("New Token"));
        for (const char* on : {"totpRadio", "sha1Radio", "digits6Radio", "interval30Radio"})
            QVERIFY2(child<QRadioButton>(*dialog, on)->isChecked(), on);
        for (const char* off : {"hotpRadio", "sha256Radio", "digits8Radio", "interval60Radio"})
            QVERIFY2(!child<QRadioButton>(*dialog, off)->isChecked(), off);
        QVERIFY(child<QCheckBox>(*dialog, "appendEnterCheck")->isChecked());
        QCOMPARE(child<QLineEdit>(*dialog, "serialEdit")->text(), QStringLiteral("VK100000107"));
        QCOMPARE(child<QLineEdit>(*dialog, "seedEdit")->text(), QString());
        QCOMPARE(child<QLineEdit>(*dialog, "userNameEdit")->text(), QString());
        QCOMPARE(status(*dialog), QString());
        // Nothing disables a control, also not the interval under HOTP.
        child<QRadioButton>(*dialog, "hotpRadio")->click();
        for (QWidget* w : dialog->findChildren<QWidget*>())
            QVERIFY2(w->isEnabled(), qPrintable(w->objectName()));
        QCOMPARE(m_scripted->calls().size(), std::size_t{0});
    }

    void everyControlHasAnAccessibleName()
    {
        auto dialog = makeDialog();
        const QList<QWidget*> controls = dialog->findChildren<QWidget*>();
        for (QWidget* w : controls) {
            if (qobject_cast<QAbstractButton*>(w) || qobject_cast<QLineEdit*>(w) ||
                w->objectName() == "statusLine")
                QVERIFY2(!w->accessibleName().isEmpty(), qPrintable(w->objectName()));
        }
        QCOMPARE(child<QLineEdit>(*dialog, "serialEdit")->accessibleName(), "Serial Number:");
        QCOMPARE(child<QLineEdit>(*dialog, "seedEdit")->accessibleName(), "Seed/Secret:");
        QCOMPARE(child<QLineEdit>(*dialog, "userNameEdit")->accessibleName(), "Username:");
        QCOMPARE(child<QRadioButton>(*dialog, "interval60Radio")->accessibleName(), "60 Seconds");
        QCOMPARE(child<QCheckBox>(*dialog, "appendEnterCheck")->accessibleName(),
                 "Append ENTER to OTP");
        QCOMPARE(child<QPushButton>(*dialog, "generateSerialButton")->accessibleDescription(),
                 "Generate serial number");
        QCOMPARE(child<QPushButton>(*dialog, "generateSeedButton")->accessibleDescription(),
                 "Generate seed");
        QCOMPARE(child<QLabel>(*dialog, "statusLine")->accessibleDescription(), "Message");
        // No push button may take Enter for itself: Enter is the OK command.
        for (QPushButton* b : dialog->findChildren<QPushButton*>())
            QVERIFY2(!b->autoDefault() && !b->isDefault(), qPrintable(b->objectName()));
    }

    void generateButtonsKeepTheOtherFields()
    {
        auto dialog = makeDialog();
        const Choices hotp{"hotpRadio", "sha256Radio", "digits8Radio", "interval60Radio"};
        fill(*dialog, hotp, "VK100000101", "ABCD", "ann");
        child<QCheckBox>(*dialog, "appendEnterCheck")->setChecked(false);

        const QRegularExpression serialForm("^0000[1-9]{9}$");
        QString previous;
        for (int press = 0; press < 2; ++press) {
            child<QPushButton>(*dialog, "generateSerialButton")->click();
            const QString serial = child<QLineEdit>(*dialog, "serialEdit")->text();
            QVERIFY2(serialForm.match(serial).hasMatch(), qPrintable(serial));
            QVERIFY(serial != previous);
            previous = serial;
            QCOMPARE(child<QLineEdit>(*dialog, "seedEdit")->text(), "ABCD");
        }

        child<QPushButton>(*dialog, "generateSeedButton")->click();
        QVERIFY(QRegularExpression("^[0-9A-F]{64}$")
                    .match(child<QLineEdit>(*dialog, "seedEdit")->text())
                    .hasMatch());
        child<QRadioButton>(*dialog, "sha1Radio")->click();
        // A seed is not adjusted when the hash changes; only the button draws anew.
        QCOMPARE(child<QLineEdit>(*dialog, "seedEdit")->text().size(), 64);
        child<QPushButton>(*dialog, "generateSeedButton")->click();
        QVERIFY(QRegularExpression("^[0-9A-F]{40}$")
                    .match(child<QLineEdit>(*dialog, "seedEdit")->text())
                    .hasMatch());

        QCOMPARE(child<QLineEdit>(*dialog, "serialEdit")->text(), previous);
        QCOMPARE(child<QLineEdit>(*dialog, "userNameEdit")->text(), "ann");
        for (const char* on : {"hotpRadio", "sha1Radio", "digits8Radio", "interval60Radio"})
            QVERIFY2(child<QRadioButton>(*dialog, on)->isChecked(), on);
        QVERIFY(!child<QCheckBox>(*dialog, "appendEnterCheck")->isChecked());
        QCOMPARE(m_scripted->calls().size(), std::size_t{0});
    }

    void closingWithoutSaveWritesNothing_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("result");
        QTest::newRow("Enter in the serial edit") << "enter:serialEdit" << NewTokenId::Ok;
        QTest::newRow("Enter in the seed edit") << "enter:seedEdit" << NewTokenId::Ok;
        QTest::newRow("Enter in the user name edit") << "enter:userNameEdit" << NewTokenId::Ok;
        QTest::newRow("Cancel button") << "cancel" << NewTokenId::CancelButton;
        QTest::newRow("Escape") << "escape" << NewTokenId::Cancel;
        QTest::newRow("close box") << "close" << NewTokenId::Cancel;
    }

    void closingWithoutSaveWritesNothing()
    {
        QFETCH(QString, how);
        QFETCH(int, result);
        auto dialog = makeDialog();
        fill(*dialog, Choices{}, "VK100000101", kSeed40, "");
        dialog->show();
        if (how.startsWith("enter:"))
            QTest::keyClick(child<QLineEdit>(*dialog, qPrintable(how.mid(6))), Qt::Key_Return);
        else if (how == "cancel")
            child<QPushButton>(*dialog, "cancelButton")->click();
        else if (how == "escape")
            QTest::keyClick(dialog.get(), Qt::Key_Escape);
        else
            dialog->close();
        QVERIFY(!dialog->isVisible());
        QCOMPARE(dialog->result(), result);
        QCOMPARE(dialog->saveResult(), kNotSaved);
        QCOMPARE(dialog->resultText(), QString());
        QCOMPARE(m_scripted->calls().size(), std::size_t{0});
        QCOMPARE(filesWritten(), QStringList());
    }

    void saveRefuses_data()
    {
        QTest::addColumn<QString>("hash");
        QTest::addColumn<QString>("serial");
        QTest::addColumn<QString>("seed");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("message");
        const QString ok = "VK100000101";
        const QString csv = "The serial number must not contain a comma, a double quote or a "
                            "line break.";
        const QString csvUser = "The user name must not contain a comma, a double quote or a "
                                "line break.";
        const QString sha1 = "SHA-1 needs a seed of 40 hexadecimal digits.";
        const QString sha256 = "SHA-256 needs a seed of 64 hexadecimal digits.";
        QTest::newRow("empty serial") << "sha1Radio" << "" << kSeed40 << "" << "Please enter a serial number.";
        QTest::newRow("14 characters")
            << "sha1Radio" << "VK100000101234" << kSeed40 << ""
            << "The serial number is too long (at most 13 characters).";
        QTest::newRow("comma in serial") << "sha1Radio" << "VK1,01" << kSeed40 << "" << csv;
        QTest::newRow("quote in serial") << "sha1Radio" << "VK1\"01" << kSeed40 << "" << csv;
        QTest::newRow("not hex") << "sha1Radio" << ok << kSeed40.left(38) + "zz" << ""
                                 << "Invalid seed format!";
        QTest::newRow("0x prefix") << "sha1Radio" << ok << "0x" + kSeed40.left(38) << ""
                                   << "Invalid seed format!";
        QTest::newRow("odd count") << "sha1Radio" << ok << kSeed40.left(39) << ""
                                   << "Invalid seed format!";
        QTest::newRow("66 digits") << "sha256Radio" << ok << kSeed64 + "AB" << ""
                                   << "Invalid seed format!";
        QTest::newRow("empty seed") << "sha1Radio" << ok << "" << "" << sha1;
        QTest::newRow("SHA-1 with 64 digits") << "sha1Radio" << ok << kSeed64 << "" << sha1;
        QTest::newRow("SHA-256 with 40 digits") << "sha256Radio" << ok << kSeed40 << "" << sha256;
        QTest::newRow("comma in user name") << "sha1Radio" << ok << kSeed40 << "Doe, Ann" << csvUser;
        QTest::newRow("quote in user name") << "sha1Radio" << ok << kSeed40 << "\"ann\"" << csvUser;
        QTest::newRow("line feed in user name") << "sha1Radio" << ok << kSeed40 << "a\nb" << csvUser;
        QTest::newRow("carriage return in user name")
            << "sha1Radio" << ok << kSeed40 << "a\rb" << csvUser;
    }

    void saveRefuses()
    {
        QFETCH(QString, hash);
        QFETCH(QString, serial);
        QFETCH(QString, seed);
        QFETCH(QString, user);
        QFETCH(QString, message);
        auto dialog = makeDialog();
        dialog->show();
        Choices choices;
        const QByteArray hashName = hash.toLatin1();
        choices.hash = hashName.constData();
        fill(*dialog, choices, serial, seed, user);
        QCOMPARE(child<QLineEdit>(*dialog, "userNameEdit")->text(), user);
        child<QPushButton>(*dialog, "saveButton")->click();

        QCOMPARE(status(*dialog), message);
        QVERIFY2(dialog->isVisible(), "the dialog stays open for a correction");
        QCOMPARE(dialog->saveResult(), kNotSaved);
        QCOMPARE(m_scripted->count(DeviceCall::OtpPersonalize), 0);
        QCOMPARE(filesWritten(), QStringList());
        dialog->reject();
    }

    void invalidSeedMessageStaysUntilTheNextSave()
    {
        auto dialog = makeDialog();
        dialog->show();
        fill(*dialog, Choices{}, "VK100000101", "nothex", "");
        child<QPushButton>(*dialog, "saveButton")->click();
        QCOMPARE(status(*dialog), "Invalid seed format!");
        child<QLineEdit>(*dialog, "seedEdit")->setText("12");
        child<QPushButton>(*dialog, "generateSerialButton")->click();
        child<QPushButton>(*dialog, "generateSeedButton")->click();
        QCOMPARE(status(*dialog), "Invalid seed format!");
        child<QPushButton>(*dialog, "saveButton")->click();
        QCOMPARE(dialog->saveResult(), kProgrammingSucceeded);
        QCOMPARE(status(*dialog), QString());
    }

    void saveProgramsTheChosenRecord_data()
    {
        QTest::addColumn<QString>("algorithm");
        QTest::addColumn<QString>("hash");
        QTest::addColumn<QString>("digits");
        QTest::addColumn<QString>("interval");
        QTest::addColumn<uint>("type");
        QTest::addColumn<uint>("hashId");
        QTest::addColumn<uint>("digitCount");
        QTest::addColumn<uint>("seconds");
        QTest::addColumn<QString>("seed");
        QTest::addColumn<QString>("file");
        QTest::newRow("TOTP SHA-256 8 digits 60 s")
            << "totpRadio" << "sha256Radio" << "digits8Radio" << "interval60Radio" << 0x20u << 2u
            << 8u << 60u << kSeed64 << "tseeds";
        QTest::newRow("HOTP keeps the interval")
            << "hotpRadio" << "sha1Radio" << "digits6Radio" << "interval60Radio" << 0x10u << 1u
            << 6u << 60u << kSeed40.toLower() << "hseeds";
    }

    void saveProgramsTheChosenRecord()
    {
        QFETCH(QString, algorithm);
        QFETCH(QString, hash);
        QFETCH(QString, digits);
        QFETCH(QString, interval);
        QFETCH(uint, type);
        QFETCH(uint, hashId);
        QFETCH(uint, digitCount);
        QFETCH(uint, seconds);
        QFETCH(QString, seed);
        QFETCH(QString, file);

        auto dialog = makeDialog("4711");
        dialog->show();
        const QByteArray a = algorithm.toLatin1(), h = hash.toLatin1(), d = digits.toLatin1(),
                         i = interval.toLatin1();
        fill(*dialog, {a.constData(), h.constData(), d.constData(), i.constData()},
             "VK100000101", seed, "ann");
        child<QPushButton>(*dialog, "saveButton")->click();

        const auto calls = m_scripted->callsOf(DeviceCall::OtpPersonalize);
        QCOMPARE(calls.size(), std::size_t{1});
        OtpTokenRecord expected{};
        expected.slot = 0xF0;
        expected.type = type;
        expected.hash = hashId;
        expected.digits = digitCount;
        expected.interval = seconds;
        std::memcpy(expected.serial, "VK100000101", 11);
        const QByteArray seedBytes = QByteArray::fromHex(seed.toLatin1());
        std::memcpy(expected.seed, seedBytes.constData(), static_cast<std::size_t>(seedBytes.size()));
        expected.seedLength = static_cast<uint32_t>(seedBytes.size());
        QVERIFY(std::memcmp(&calls[0].record, &expected, sizeof expected) == 0);
        QCOMPARE(calls[0].access, std::string("4711"));
        QCOMPARE(calls[0].flag, uint8_t{1});
        QCOMPARE(calls[0].status, 0u);
        QCOMPARE(m_key->storedTokens().size(), std::size_t{1});

        // The note was on screen, with the busy cursor, while the key waited.
        QCOMPARE(m_watch->statusDuringTouch, QStringList{"Please touch the key..."});
        QCOMPARE(m_watch->busyDuringTouch, std::vector<bool>{true});
        QVERIFY(QGuiApplication::overrideCursor() == nullptr);
        QCOMPARE(status(*dialog), QString());

        QVERIFY(!dialog->isVisible());
        QCOMPARE(dialog->result(), NewTokenId::Save);
        QCOMPARE(dialog->saveResult(), kProgrammingSucceeded);
        QCOMPARE(dialog->resultText(),
                 "Save new token succeeded!\r\nSN=VK100000101, SEED=" + seed + "\r\n");
        QCOMPARE(filesWritten(), (QStringList{file + ".csv", file + ".xml"}));
    }

    void failedProgrammingWritesNoFiles()
    {
        m_key->setTouchNever(20);
        auto dialog = makeDialog();
        dialog->show();
        fill(*dialog, Choices{}, "VK100000101", kSeed40, "");
        child<QPushButton>(*dialog, "saveButton")->click();

        QCOMPARE(m_scripted->callsOf(DeviceCall::OtpPersonalize).at(0).status, 0x800A6984u);
        QVERIFY(!dialog->isVisible());
        QCOMPARE(dialog->saveResult(), kProgrammingFailed);
        QCOMPARE(dialog->resultText(), "Failed to save the new token (error = 0x800A6984)\r\n");
        QCOMPARE(status(*dialog), QString());
        QCOMPARE(filesWritten(), QStringList());
        QVERIFY(m_key->storedTokens().empty());
    }

    void unrecordedSeedIsReportedAfterTheSuccessLines()
    {
        QFile broken(QDir(m_dir->path()).filePath("tseeds.xml"));
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write("<data><tokens>");
        broken.close();

        auto dialog = makeDialog();
        fill(*dialog, Choices{}, "VK100000101", kSeed40, "");
        child<QPushButton>(*dialog, "saveButton")->click();

        QCOMPARE(dialog->saveResult(), kProgrammingSucceeded);
        const QStringList lines = dialog->resultText().split("\r\n", Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[0], "Save new token succeeded!");
        QVERIFY(lines[2].startsWith("Failed to record the new token in " +
                                    QDir::toNativeSeparators(broken.fileName())));
        QVERIFY(QFile::exists(QDir(m_dir->path()).filePath("tseeds.csv")));
    }
};

QTEST_MAIN(NewTokenDialogTest)
#include "NewTokenDialogTest.moc"
