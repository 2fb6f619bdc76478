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

#include <memory>

namespace {
const QString kSeed40 = "3132333435363738393031323334353637383930";
const QString kSeed64 = kSeed40 + "313233343536373839303132";
} // namespace

class NewTokenDialogTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<VirtualKeyDevice> m_key;
    std::unique_ptr<ScriptedDevice> m_device;
    std::unique_ptr<TouchWatch> m_watch;
    std::unique_ptr<CNewTokenDlg> m_dialog;

    template <class T = QWidget> T* w(const QString& name) const
    {
        return m_dialog->findChild<T*>(name);
    }
    QString text(const char* edit) const { return w<QLineEdit>(edit)->text(); }
    QString status() const { return w<QLabel>("statusLine")->text(); }
    bool checked(const char* name) const { return w<QAbstractButton>(name)->isChecked(); }
    void click(const QString& name) { w<QAbstractButton>(name)->click(); }
    // Radio buttons by object name, then the three edits.
    void fill(const QStringList& radios, const QString& serial, const QString& seed,
              const QString& user = {})
    {
        for (const QString& radio : radios)
            click(radio);
        w<QLineEdit>("serialEdit")->setText(serial);
        w<QLineEdit>("seedEdit")->setText(seed);
        w<QLineEdit>("userNameEdit")->setText(user);
    }
    QStringList files() const { return QDir(m_dir->path()).entryList(QDir::Files); }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_key = std::make_unique<VirtualKeyDevice>("VK1000001");
        m_device = std::make_unique<ScriptedDevice>(*m_key);
        m_watch = std::make_unique<TouchWatch>(*m_device);
        m_dialog =
            std::make_unique<CNewTokenDlg>(*m_watch, "4711", "VK100000107", nullptr, m_dir->path());
        m_watch->dialog = m_dialog.get();
        m_dialog->show();
    }
    void cleanup()
    {
        m_dialog.reset();
        m_watch.reset();
        m_device.reset();
        m_key.reset();
        m_dir.reset();
    }

    void opensWithDefaultsAndNamedControls()
    {
        QCOMPARE(m_dialog->windowTitle(), "New Token");
        for (const char* on :
             {"totpRadio", "sha1Radio", "digits6Radio", "interval30Radio", "appendEnterCheck"})
            QVERIFY2(checked(on), on);
        for (const char* off : {"hotpRadio", "sha256Radio", "digits8Radio", "interval60Radio"})
            QVERIFY2(!checked(off), off);
        QCOMPARE(text("serialEdit"), "VK100000107");
        QCOMPARE(text("seedEdit") + text("userNameEdit") + status(), QString());

        // Nothing is ever disabled (the interval neither under HOTP), every
        // control is named, and no push button takes Enter for itself.
        click("hotpRadio");
        for (QWidget* c : m_dialog->findChildren<QWidget*>()) {
            QVERIFY2(c->isEnabled(), qPrintable(c->objectName()));
            if (qobject_cast<QAbstractButton*>(c) || qobject_cast<QLineEdit*>(c) ||
                c->objectName() == "statusLine")
                QVERIFY2(!c->accessibleName().isEmpty(), qPrintable(c->objectName()));
            if (auto* b = qobject_cast<QPushButton*>(c))
                QVERIFY2(!b->autoDefault() && !b->isDefault(), qPrintable(b->objectName()));
        }
        QCOMPARE(w("serialEdit")->accessibleName(), "Serial Number:");
        QCOMPARE(w("seedEdit")->accessibleName(), "Seed/Secret:");
        QCOMPARE(w("userNameEdit")->accessibleName(), "Username:");
        QCOMPARE(w("interval60Radio")->accessibleName(), "60 Seconds");
        QCOMPARE(w("generateSerialButton")->accessibleDescription(), "Generate serial number");
        QCOMPARE(w("generateSeedButton")->accessibleDescription(), "Generate seed");
        QCOMPARE(w("statusLine")->accessibleDescription(), "Message");
        QCOMPARE(m_device->calls().size(), std::size_t{0});
    }

    void generateButtonsKeepTheOtherFields()
    {
        fill({"hotpRadio", "sha256Radio", "digits8Radio", "interval60Radio"}, "x", "nothex", "ann");
        click("appendEnterCheck");
        click("saveButton");
        QCOMPARE(status(), "Invalid seed format!");

        QString previous;
        for (int press = 0; press < 2; ++press) {
            click("generateSerialButton");
            QVERIFY(QRegularExpression("^0000[1-9]{9}$").match(text("serialEdit")).hasMatch());
            QVERIFY(text("serialEdit") != previous);
            previous = text("serialEdit");
            QCOMPARE(text("seedEdit"), "nothex");
        }
        click("generateSeedButton");
        QVERIFY(QRegularExpression("^[0-9A-F]{64}$").match(text("seedEdit")).hasMatch());
        click("sha1Radio"); // the seed is drawn anew only by the button
        QCOMPARE(text("seedEdit").size(), 64);
        click("generateSeedButton");
        QVERIFY(QRegularExpression("^[0-9A-F]{40}$").match(text("seedEdit")).hasMatch());

        QCOMPARE(text("serialEdit"), previous);
        QCOMPARE(text("userNameEdit"), "ann");
        for (const char* on : {"hotpRadio", "sha1Radio", "digits8Radio", "interval60Radio"})
            QVERIFY2(checked(on), on);
        QVERIFY(!checked("appendEnterCheck"));
        QCOMPARE(status(), "Invalid seed format!"); // until the next Save
        QCOMPARE(m_device->calls().size(), std::size_t{0});
    }

    void closingWithoutSaveWritesNothing_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("result");
        for (const char* edit : {"serialEdit", "seedEdit", "userNameEdit"})
            QTest::newRow(edit) << edit << NewTokenId::Ok; // Enter in the edit
        QTest::newRow("Cancel button") << "cancelButton" << NewTokenId::CancelButton;
        QTest::newRow("Escape") << "escape" << NewTokenId::Cancel;
        QTest::newRow("close box") << "close" << NewTokenId::Cancel;
    }
    void closingWithoutSaveWritesNothing()
    {
        QFETCH(QString, how);
        QFETCH(int, result);
        fill({}, "VK100000101", kSeed40);
        if (how.endsWith("Edit"))
            QTest::keyClick(w(how), Qt::Key_Return);
        else if (how == "cancelButton")
            click(how);
        else if (how == "escape")
            QTest::keyClick(m_dialog.get(), Qt::Key_Escape);
        else
            m_dialog->close();
        QVERIFY(!m_dialog->isVisible());
        QCOMPARE(m_dialog->result(), result);
        QCOMPARE(m_dialog->saveResult(), kNotSaved);
        QCOMPARE(m_dialog->resultText(), QString());
        QCOMPARE(m_device->calls().size(), std::size_t{0});
        QCOMPARE(files(), QStringList());
    }

    void saveRefuses_data()
    {
        QTest::addColumn<QString>("hash");
        QTest::addColumn<QString>("serial");
        QTest::addColumn<QString>("seed");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("message");
        const QString sn = "VK100000101", bad = "Invalid seed format!";
        const QString csv =
            "The serial number must not contain a comma, a double quote or a line break.";
        const QString csvUser =
            "The user name must not contain a comma, a double quote or a line break.";
        const QString sha1 = "SHA-1 needs a seed of 40 hexadecimal digits.";
        const QString sha256 = "SHA-256 needs a seed of 64 hexadecimal digits.";
        auto row = [](const char* name) -> QTestData& { return QTest::newRow(name); };
        row("empty serial") << "sha1Radio"
                            << "" << kSeed40 << ""
                            << "Please enter a serial number.";
        row("14 characters") << "sha1Radio"
                             << "VK100000101234" << kSeed40 << ""
                             << "The serial number is too long (at most 13 characters).";
        row("comma in serial") << "sha1Radio"
                               << "VK1,01" << kSeed40 << "" << csv;
        row("quote in serial") << "sha1Radio"
                               << "VK1\"01" << kSeed40 << "" << csv;
        row("not hex") << "sha1Radio" << sn << kSeed40.left(38) + "zz"
                       << "" << bad;
        row("0x prefix") << "sha1Radio" << sn << "0x" + kSeed40.left(38) << "" << bad;
        row("odd count") << "sha1Radio" << sn << kSeed40.left(39) << "" << bad;
        row("66 digits") << "sha256Radio" << sn << kSeed64 + "AB"
                         << "" << bad;
        row("empty seed") << "sha1Radio" << sn << ""
                          << "" << sha1;
        row("SHA-1 with 64 digits") << "sha1Radio" << sn << kSeed64 << "" << sha1;
        row("SHA-256 with 40 digits") << "sha256Radio" << sn << kSeed40 << "" << sha256;
        row("comma in user") << "sha1Radio" << sn << kSeed40 << "Doe, Ann" << csvUser;
        row("quote in user") << "sha1Radio" << sn << kSeed40 << "\"ann\"" << csvUser;
        row("LF in user") << "sha1Radio" << sn << kSeed40 << "a\nb" << csvUser;
        row("CR in user") << "sha1Radio" << sn << kSeed40 << "a\rb" << csvUser;
    }
    void saveRefuses()
    {
        QFETCH(QString, hash);
        QFETCH(QString, serial);
        QFETCH(QString, seed);
        QFETCH(QString, user);
        QFETCH(QString, message);
        fill({hash}, serial, seed, user);
        QCOMPARE(text("userNameEdit"), user);
        click("saveButton");
        QCOMPARE(status(), message);
        QVERIFY2(m_dialog->isVisible(), "stays open for a correction");
        QCOMPARE(m_device->count(DeviceCall::OtpPersonalize), 0);
        QCOMPARE(files(), QStringList());
    }

    void saveProgramsTheChosenRecord_data()
    {
        QTest::addColumn<QStringList>("radios");
        QTest::addColumn<QString>("seed");
        QTest::addColumn<QList<uint>>("fields"); // type, hash, digits, interval
        QTest::addColumn<QString>("file");
        QTest::newRow("TOTP SHA-256 8 digits 60 s")
            << QStringList{"totpRadio", "sha256Radio", "digits8Radio", "interval60Radio"} << kSeed64
            << QList<uint>{0x20, 2, 8, 60} << "tseeds";
        QTest::newRow("HOTP keeps the interval")
            << QStringList{"hotpRadio", "sha1Radio", "digits6Radio", "interval60Radio"}
            << kSeed40.toLower() << QList<uint>{0x10, 1, 6, 60} << "hseeds";
    }
    void saveProgramsTheChosenRecord()
    {
        QFETCH(QStringList, radios);
        QFETCH(QString, seed);
        QFETCH(QList<uint>, fields);
        QFETCH(QString, file);
        fill(radios, "VK100000101", seed, "ann");
        click("saveButton");

        OtpTokenRecord expected{0xF0,      fields[0],     fields[1], fields[2],
                                fields[3], "VK100000101", {},        0};
        const QByteArray bytes = QByteArray::fromHex(seed.toLatin1());
        std::memcpy(expected.seed, bytes.constData(), static_cast<std::size_t>(bytes.size()));
        expected.seedLength = static_cast<uint32_t>(bytes.size());
        const auto calls = m_device->callsOf(DeviceCall::OtpPersonalize);
        QCOMPARE(calls.size(), std::size_t{1});
        QVERIFY(std::memcmp(&calls[0].record, &expected, sizeof expected) == 0);
        QCOMPARE(calls[0].access, std::string("4711"));
        QCOMPARE(calls[0].flag, uint8_t{1});
        QCOMPARE(m_key->storedTokens().size(), std::size_t{1});

        // The note was painted, with the busy cursor, while the key waited.
        QCOMPARE(m_watch->statusDuringTouch, QStringList{"Please touch the key..."});
        QCOMPARE(m_watch->busyDuringTouch, std::vector<bool>{true});
        QVERIFY(!QGuiApplication::overrideCursor());
        QCOMPARE(status(), QString());

        QVERIFY(!m_dialog->isVisible());
        QCOMPARE(m_dialog->result(), NewTokenId::Save);
        QCOMPARE(m_dialog->saveResult(), kProgrammingSucceeded);
        QCOMPARE(m_dialog->resultText(),
                 "Save new token succeeded!\r\nSN=VK100000101, SEED=" + seed + "\r\n");
        QCOMPARE(files(), (QStringList{file + ".csv", file + ".xml"}));
    }
};

QTEST_MAIN(NewTokenDialogTest)
#include "NewTokenDialogTest.moc"
