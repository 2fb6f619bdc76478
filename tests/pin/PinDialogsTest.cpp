#include "PinTestSupport.h"
#include "pin/CPinPolicyDlg.h"
#include "pin/PinAccess.h"
#include "pin/PinCommands.h"
#include "pin/QueryPin.h"
#include "pin/UpdatePinDlg.h"
#include "support/FakeMainWindow.h"
#include "support/ModalDriver.h"
#include "support/ScriptedDevice.h"
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
        ScriptedDevice device(key);
        PinPolicyRecord policy = openPolicy();
        policy.minLength = 6;
        storePolicy(key, policy);
        const QString mismatch = QStringLiteral("New PIN and confirm PIN do not match.");
        const std::tuple<QString, QString, QString> cases[] = {
            {"", "abc", mismatch},
            {"abcdef", "abcdefg", mismatch},
            {"", "", "PIN is empty."},
            {"xq", "xq", "The minimum PIN length allowed is 6"},
        };
        for (const auto& [newPin, confirmPin, message] : cases) {
            UpdatePinDlg dialog(device);
            QVERIFY(dialog.currentPinLabel()->isHidden() && dialog.currentPinEdit()->isHidden());
            dialog.show();
            setPins(&dialog, kOtherPin, newPin, confirmPin);
            QVERIFY(dialog.isVisible());
            QCOMPARE(dialog.messageLabel()->text(), message);
            QCOMPARE(device.count(DeviceCall::OtpPersonalize), 0);
        }

        QVERIFY(change_pin(key, kPin.toStdString(), ""));
        UpdatePinDlg dialog(device);
        QVERIFY(!dialog.currentPinLabel()->isHidden() && !dialog.currentPinEdit()->isHidden());
        dialog.show();
        setPins(&dialog, "Wr0ng#x", kOtherPin, kOtherPin);
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.messageLabel()->text(),
                 "Failed to change PIN. Error: Token PIN incorrect.");
        setPins(&dialog, kPin, kOtherPin, kOtherPin);
        QVERIFY(!dialog.isVisible() && dialog.result() == QDialog::Accepted);
        QCOMPARE(verify_pin(key, kOtherPin.toStdString()), true);
    }

    // Software mode: the PIN lives in the record that the policy dialog rewrites.
    void buttonCaptionAndCachedPinFollowTheKey()
    {
        VirtualKeyDevice device("VK1000001", false);
        FakeMainWindow window(device);
        QPushButton button(QStringLiteral("Update PIN"));
        const auto caption = [&] {
            ::change_pin_button_status(device, &button);
            return button.isEnabled() ? button.text() : QString();
        };
        QCOMPARE(caption(), QString());

        ModalDriver driver([](QWidget* d) { perform(d, {"enabledBox", "okButton"}); });
        OnBnClickedPinPolicy(window);
        QCOMPARE(window.pinButtonUpdates, 1);
        QCOMPARE(caption(), QStringLiteral("Set PIN"));
        QCOMPARE(query_pin_ifn(device, nullptr, ""), ""); // no PIN: not asked
        driver.arm([](QWidget* d) { setPins(qobject_cast<UpdatePinDlg*>(d), "", kPin, kPin); });
        window.cachedPin = QStringLiteral("stale"); // the dialog closing must forget it
        OnBnClickedUpdatePin(window);
        QVERIFY(window.cachedPin.isEmpty());
        QCOMPARE(caption(), QStringLiteral("Change PIN"));
        QCOMPARE(driver.dialogsSeen(), 1);

        driver.arm([](QWidget* d) { perform(d, {"pinEdit=" + kPin, "okButton"}); });
        std::string cached;
        for (int i = 0; i < 2; ++i)
            cached = query_pin_ifn(device, nullptr, cached).value_or("failed");
        QCOMPARE(cached, kPin.toStdString());
        QCOMPARE(driver.dialogsSeen(), 1);
        driver.disarm();
    }

    void policyDialogRefusesOutOfRangeAndSavesExactly()
    {
        VirtualKeyDevice key("VK1000001", false);
        ScriptedDevice device(key);
        PinPolicyRecord stored = openPolicy();
        stored.enabled = 0;
        stored.pinDigest = pin_digest(kPin.toStdString());
        stored.pinSetTime = 1700000000;
        storePolicy(key, stored);
        QStringList logged;
        CPinPolicyDlg dialog(device, nullptr,
                             [&](std::string_view line) { logged << QString::fromUtf8(line); });
        dialog.show();
        dialog.enabledBox()->click();

        // A key that refuses the read may hold a PIN: a zero record would erase it.
        device.failNext(DeviceCall::OtpList, VN_ERR_STORAGE);
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
        QCOMPARE(device.count(DeviceCall::OtpPersonalize), 0);

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
        QCOMPARE(read_pin_policy_or_zero(key), expected);
    }
};

QTEST_MAIN(PinDialogsTest)
#include "PinDialogsTest.moc"
