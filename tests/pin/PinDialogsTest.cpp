#include "PinTestSupport.h"
#include "pin/CPinPolicyDlg.h"
#include "pin/PinAccess.h"
#include "pin/UpdatePinDlg.h"
#include "support/ModalDriver.h"
#include "support/VirtualKeyDevice.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

namespace {

const QString kPin = QStringLiteral("Kq7#pw");
const QString kOtherPin = QStringLiteral("Zt4!mv");

void setPins(UpdatePinDlg* d, const QString& current, const QString& newPin, const QString& confirm)
{
    perform(d, {"currentPinEdit=" + current, "newPinEdit=" + newPin, "confirmPinEdit=" + confirm,
                "okButton"});
}

} // namespace

class PinDialogsTest : public QObject
{
    Q_OBJECT

private slots:
    void updatePinChecksInOrderBeforeTheKey()
    {
        VirtualKeyDevice key("VK1000001", true);
        PinPolicyRecord policy = openPolicy();
        policy.minLength = 6;
        storePolicy(key, policy);
        key.clearCalls();
        const QString mismatch = QStringLiteral("New PIN and confirm PIN do not match.");
        const std::tuple<QString, QString, QString> cases[] = {
            {"", "abc", mismatch},
            {"abcdef", "abcdefg", mismatch},
            {"", "", "PIN is empty."},
            {"xq", "xq", "The minimum PIN length allowed is 6"},
        };
        for (const auto& [newPin, confirmPin, message] : cases) {
            UpdatePinDlg dialog(key);
            QVERIFY(dialog.currentPinLabel()->isHidden() && dialog.currentPinEdit()->isHidden());
            dialog.show();
            setPins(&dialog, kOtherPin, newPin, confirmPin);
            QVERIFY(dialog.isVisible());
            QCOMPARE(dialog.messageLabel()->text(), message);
            QCOMPARE(key.count(DeviceCall::OtpPersonalize), 0);
        }

        QVERIFY(change_pin(Session(key), kPin.toStdString(), ""));
        UpdatePinDlg dialog(key);
        QVERIFY(!dialog.currentPinLabel()->isHidden() && !dialog.currentPinEdit()->isHidden());
        dialog.show();
        setPins(&dialog, "Wr0ng#x", kOtherPin, kOtherPin);
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.messageLabel()->text(),
                 "Failed to change PIN. Error: Token PIN incorrect.");
        setPins(&dialog, kPin, kOtherPin, kOtherPin);
        QVERIFY(!dialog.isVisible() && dialog.result() == QDialog::Accepted);
        QCOMPARE(verify_pin(Session(key), kOtherPin.toStdString()), true);
    }

    void policyDialogRefusesOutOfRangeAndSavesExactly()
    {
        VirtualKeyDevice key("VK1000001", false);
        PinPolicyRecord stored = openPolicy();
        stored.enabled = 0;
        stored.pinDigest = pin_digest(kPin.toStdString());
        stored.pinSetTime = 1700000000;
        storePolicy(key, stored);
        key.clearCalls();
        QStringList logged;
        CPinPolicyDlg dialog(key, nullptr,
                             [&](std::string_view line) { logged << QString::fromUtf8(line); });
        dialog.show();
        dialog.enabledBox()->click();

        // A key that refuses the read may hold a PIN: a zero record would erase it.
        key.failNext(DeviceCall::OtpList, VN_ERR_STORAGE);
        dialog.okButton()->click();
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.messageLabel()->text(), "Failed to read PIN policy.");
        QCOMPARE(logged.last(), "[OnSaveCmd] Failed to read PIN policy.");

        const QString rules = QStringLiteral("Please enter a whole number from 0 to 255 for ");
        const std::tuple<PolicyField, QString, QString> refused[] = {
            {PolicyField::MinLength, "", rules + "the minimum PIN length."},
            {PolicyField::MaxRepeating, "256", rules + "the maximum number of repeating letters."},
            {PolicyField::MinUppercase, "3a", rules + "the minimum number of uppercase letters."},
            {PolicyField::ExpiryDays, "65536",
             "Please enter a whole number from 0 to 65535 for the days after which a newly set "
             "PIN expires."},
        };
        for (const auto& [field, text, message] : refused) {
            QLineEdit* bad = dialog.fieldEdit(field);
            const QString before = bad->text();
            bad->setText(text);
            dialog.okButton()->click();
            QVERIFY(dialog.isVisible());
            QCOMPARE(dialog.messageLabel()->text(), message);
            bad->setText(before);
        }
        QCOMPARE(key.count(DeviceCall::OtpPersonalize), 0);

        const char* typed[kPolicyFieldCount] = {"255", "1", "2", "3", "4", "5", "6", "65535"};
        for (std::size_t i = 0; i < kPolicyFieldCount; ++i)
            dialog.fieldEdit(static_cast<PolicyField>(i))->setText(typed[i]);
        dialog.okButton()->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        PinPolicyRecord expected = stored; // the PIN state is carried over
        expected.enabled = 1;
        std::tie(expected.minLength, expected.minNumeric, expected.minLowercase,
                 expected.minUppercase, expected.minSpecial, expected.maxSequential,
                 expected.maxRepeating, expected.expiryDays) =
            std::tuple{255, 1, 2, 3, 4, 5, 6, 65535};
        QCOMPARE(read_pin_policy_or_zero(Session(key)), expected);
    }
};

QTEST_MAIN(PinDialogsTest)
#include "PinDialogsTest.moc"
