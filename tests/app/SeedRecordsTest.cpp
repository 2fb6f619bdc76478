// The Seed records dialog and New Token's destinations, on the real widgets
// over the in-process virtual key. (To fold into MainWindowTest once the
// ported window tests are on main.)

#include "app/CMainDlg.h"
#include "app/PskcPasswordDlg.h"
#include "app/SeedRecordsDlg.h"
#include "support/ModalDriver.h"
#include "support/VirtualKeyDevice.h"

#include <QAccessible>
#include <QCheckBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QtTest>

namespace {

std::unique_ptr<CMainDlg> openWindow(DeviceApi& device)
{
    auto window =
        std::make_unique<CMainDlg>(device, CMainDlg::Options{QString(), sleepOnThisThread});
    if (!window->Create())
        qFatal("the main window could not be created");
    return window;
}

} // namespace

class SeedRecordsTest : public QObject
{
    Q_OBJECT

private slots:
    // Every control is named; Enter on a focused button presses it, in an
    // edit it is OK.
    void dialogsAreNamedAndEnterPressesTheFocusedButtonElseOk()
    {
        SeedRecordsDlg records(SeedRecordsChoice{}, "/seeds");
        PskcPasswordDlg password("new.pskc", true);
        for (QDialog* dialog :
             {static_cast<QDialog*>(&records), static_cast<QDialog*>(&password)}) {
            dialog->show();
            for (QWidget* w : dialog->findChildren<QWidget*>())
                if ((w->focusPolicy() & Qt::TabFocus) && !w->isHidden())
                    QVERIFY2(!QAccessible::queryAccessibleInterface(w)
                                  ->text(QAccessible::Name)
                                  .isEmpty(),
                             qPrintable(w->objectName()));
            QTest::keyClick(dialog->findChild<QPushButton*>("cancelButton"), Qt::Key_Return);
            QCOMPARE(dialog->result(), QDialog::Rejected);
            dialog->show();
            dialog->findChildren<QLineEdit*>().front()->setText("x");
            dialog->findChildren<QLineEdit*>().back()->setText("x");
            QTest::keyClick(dialog->findChildren<QLineEdit*>().back(), Qt::Key_Return);
            QCOMPARE(dialog->result(), QDialog::Accepted);
        }
        QCOMPARE(records.choice().oathUsersFile, "x");
        QCOMPARE(password.password().text(), "x");
    }

    // Seed records as a user chooses them: a PSKC file with a password instead
    // of the clear-text files. New Token then writes a PSKC file python3-pskc
    // decrypts to the key's seeds, and no seed file; the password is asked
    // once; the next run has the choice again.
    void seedRecordsSendNewTokensToThePskcFileInsteadOfTheSeedFiles()
    {
        QTemporaryDir dir;
        const QString seeds = dir.filePath("seeds"), pskc = dir.filePath("tokens.pskc");
        QVERIFY(QDir().mkdir(seeds));
        QFile::setPermissions(seeds, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        VirtualKeyDevice key;
        auto window = openWindow(key);
        window->state().seedFolder = seeds.toStdString();
        QStringList seen;
        ModalDriver driver([&seen, &pskc](QWidget* dialog) {
            seen << dialog->objectName();
            if (dialog->objectName() == "SeedRecordsDlg") {
                dialog->findChild<QCheckBox*>("seedFilesCheck")->setChecked(false);
                perform(dialog, {"pskcFileEdit=" + pskc, "okButton"});
            } else if (dialog->objectName() == "PskcPasswordDlg") { // Enter in the edit is OK
                for (QLineEdit* edit : dialog->findChildren<QLineEdit*>())
                    edit->setText("long pass phrase");
                QTest::keyClick(dialog->findChild<QLineEdit*>("passwordEdit"), Qt::Key_Return);
            } else {
                perform(dialog, {"generateSeedButton", "saveButton"});
            }
        });
        for (const int button : {ControlId::SeedRecords, ControlId::NewToken, ControlId::NewToken})
            qobject_cast<QPushButton*>(window->control(button))->click();
        QCOMPARE(seen, QStringList(
                           {"SeedRecordsDlg", "PskcPasswordDlg", "CNewTokenDlg", "CNewTokenDlg"}));
        QCOMPARE(QDir(seeds).entryList(QDir::Files), QStringList());
        QCOMPARE(window->messagesText().count("Recorded in " + pskc + "\r\n"), 2);

        QTemporaryFile password;
        QVERIFY(password.open());
        password.write("long pass phrase\n");
        password.close();
        QProcess python;
        python.start("/usr/bin/python3",
                     {PSKC_REFERENCE, "dump", pskc, "--password-file", password.fileName()});
        QVERIFY(python.waitForFinished(60000));
        const QJsonArray dumped = QJsonDocument::fromJson(python.readAllStandardOutput()).array();
        QStringList expected, decrypted;
        for (const OtpTokenRecord& token : key.storedTokens())
            expected
                << QByteArray(reinterpret_cast<const char*>(token.seed), token.seedLength).toHex();
        for (const QJsonValue& token : dumped)
            decrypted << token.toObject()["secret"].toString();
        QCOMPARE(decrypted, expected);
        QCOMPARE(expected.size(), 2);
        window.reset();
        QCOMPARE(openWindow(key)->state().records.pskcFile, pskc);
    }
};

QTEST_MAIN(SeedRecordsTest)
#include "SeedRecordsTest.moc"
