// The main window over the linked libVN_Manager, in both PIN modes: save a
// policy, set a PIN, change it, then read the key back through `vnkey show`.

#include "app/CMainDlg.h"
#include "device/DeviceApi.h"
#include "support/ModalDriver.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdlib>

namespace {

QString vnkey(const QStringList& args)
{
    QProcess p;
    p.start(QCoreApplication::applicationDirPath() + "/vnkey", args);
    if (!p.waitForFinished(10000) || p.exitCode() != 0)
        qFatal("vnkey %s failed: %s", qPrintable(args.join(' ')), p.readAllStandardError().data());
    return QString::fromUtf8(p.readAllStandardOutput());
}

} // namespace

class PinProgramRunTest : public QObject
{
    Q_OBJECT

private slots:
    void policyThenSetThenChange_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QStringList>("expected"); // lines `vnkey show --secrets` must print
        const QString digest =
            QCryptographicHash::hash("Zt4!mv90", QCryptographicHash::Md5).toHex();
        QTest::newRow("hardware") << "hardware"
                                  << QStringList{"  Access code: \"Zt4!mv90\"\n",
                                                 "    PIN digest (software mode): none\n"};
        QTest::newRow("software") << "software"
                                  << QStringList{"  Access code: not supported\n",
                                                 "    PIN digest (software mode): " + digest +
                                                     "\n"};
    }

    void policyThenSetThenChange()
    {
        QFETCH(QString, mode);
        QFETCH(QStringList, expected);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        setenv("VN_KEY_DIR", qPrintable(dir.path()), 1);
        vnkey({"create", "K1", "--plug", "--touch", "auto:0", "--pin-mode", mode});

        LinkedDeviceApi device;
        CMainDlg window(device, CMainDlg::Options{nullptr, QString()});
        QVERIFY(window.Create());

        auto run = [&](int control, const QStringList& steps) {
            QString leftOpen;
            ModalDriver driver([&](QWidget* dialog) {
                perform(dialog, steps);
                if (dialog->isVisible())
                    leftOpen = dialog->findChild<QLabel*>("messageLabel")->text() + " ";
            });
            window.OnCommand(control);
            driver.disarm();
            return leftOpen + QString::number(driver.dialogsSeen());
        };
        const auto now = QDateTime::currentDateTimeUtc();
        QCOMPARE(run(ControlId::PinPolicy,
                     {"enabledBox", "minLengthEdit=6", "minNumericEdit=2", "minLowercaseEdit=0",
                      "minUppercaseEdit=0", "minSpecialEdit=0", "maxSequentialEdit=3",
                      "maxRepeatingEdit=2", "expiryDaysEdit=90", "okButton"}),
                 "1");
        QCOMPARE(run(ControlId::UpdatePin,
                     {"newPinEdit=Kq7#pw12", "confirmPinEdit=Kq7#pw12", "okButton"}),
                 "1");
        QCOMPARE(run(ControlId::UpdatePin, {"currentPinEdit=Kq7#pw12", "newPinEdit=Zt4!mv90",
                                            "confirmPinEdit=Zt4!mv90", "okButton"}),
                 "1");
        QCOMPARE(qobject_cast<QPushButton*>(window.control(ControlId::UpdatePin))->text(),
                 "Change PIN");

        const QString shown = vnkey({"show", "K1", "--secrets"});
        expected << "  PIN record: policy enabled\n"
                 << "    expiry days: 90\n"
                 << "    min length 6, digits 2, lowercase 0, uppercase 0, special 0, "
                    "max sequential 3, max repeating 2\n";
        for (const QString& line : expected)
            QVERIFY2(shown.contains(line), qPrintable(line + "not in:\n" + shown));

        const auto at = QRegularExpression("PIN set at: (.*) UTC\n").match(shown);
        QVERIFY2(at.hasMatch(), qPrintable(shown));
        const auto setAt =
            QDateTime::fromString(at.captured(1).replace(' ', 'T') + 'Z', Qt::ISODate);
        QVERIFY2(qAbs(now.secsTo(setAt)) < 120, qPrintable(at.captured(1)));
    }
};

QTEST_MAIN(PinProgramRunTest)
#include "PinProgramRunTest.moc"
