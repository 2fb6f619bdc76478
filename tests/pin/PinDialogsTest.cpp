#include "DialogTestSupport.h"
#include "HookDevice.h"
#include "KeySetup.h"
#include "LogCapture.h"
#include "pin/CPinPolicyDlg.h"
#include "pin/PinAccess.h"
#include "pin/PinDlg.h"
#include "pin/QueryPin.h"
#include "pin/UpdatePinDlg.h"
#include "support/ScriptedDevice.h"
#include "support/VirtualKeyDevice.h"

#include <QAccessible>
#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QtTest>

namespace {

const QString kPin = QStringLiteral("Kq7#pw");
const QString kOtherPin = QStringLiteral("Zt4!mv");

std::string utf8(const QString& s)
{
    return s.toStdString();
}

// The key, a scripting layer and a touch hook, stacked as the dialogs use them.
struct Rig
{
    explicit Rig(bool hardware) : key("VK1000001", hardware) {}
    VirtualKeyDevice key;
    HookDevice hook{key};
    ScriptedDevice device{hook};
};

bool busyCursorShown()
{
    const QCursor* cursor = QGuiApplication::overrideCursor();
    return cursor && cursor->shape() == Qt::WaitCursor;
}

QString accessibleText(QWidget* widget, QAccessible::Text which)
{
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(widget);
    return iface ? iface->text(which) : QString();
}

// Every edit, button, check box and group box is named for assistive
// technology; an edit by the label that is its buddy.
void checkAccessibleNames(QWidget* dialog)
{
    for (QWidget* w : dialog->findChildren<QWidget*>()) {
        if (!qobject_cast<QLineEdit*>(w) && !qobject_cast<QAbstractButton*>(w) &&
            !qobject_cast<QGroupBox*>(w))
            continue;
        QVERIFY2(!accessibleText(w, QAccessible::Name).isEmpty(),
                 qPrintable(w->objectName() + QStringLiteral(" has no accessible name")));
    }
    for (QLabel* label : dialog->findChildren<QLabel*>()) {
        if (label->buddy())
            QCOMPARE(accessibleText(label->buddy(), QAccessible::Name), label->text());
    }
}

void addModes()
{
    QTest::addColumn<bool>("hardware");
    QTest::newRow("hardware") << true;
    QTest::newRow("software") << false;
}

} // namespace

class PinDialogsTest : public QObject
{
    Q_OBJECT

private slots:
    void pinEntryDialog();
    void queryAsksOnlyWhenNeeded_data() { addModes(); }
    void queryAsksOnlyWhenNeeded();
    void updatePinMessagesBeforeAnyDeviceCall();
    void updatePinCurrentFieldFollowsTheKey_data() { addModes(); }
    void updatePinCurrentFieldFollowsTheKey();
    void updatePinChange_data() { addModes(); }
    void updatePinChange();
    void updatePinCommandRefusedWithoutPolicy();
    void updatePinCommandForgetsTheCachedPin();
    void buttonCaptionFollowsTheKey_data() { addModes(); }
    void buttonCaptionFollowsTheKey();
    void buttonCaptionWhenAccessStateUnknown();
    void policyDialogOpens();
    void policyDialogSavesExactly();
    void policyDialogFailedSave();
    void policyDialogRefusesBadFields_data();
    void policyDialogRefusesBadFields();
    void policyDialogKeepsRulesWhenSwitchedOff();
};

void PinDialogsTest::pinEntryDialog()
{
    PinDlg dialog;
    QCOMPARE(dialog.windowTitle(), QStringLiteral("PIN"));
    QCOMPARE(dialog.pinEdit()->echoMode(), QLineEdit::Password);
    QVERIFY(dialog.pinEdit()->text().isEmpty());
    QVERIFY(dialog.okButton()->isDefault());
    checkAccessibleNames(&dialog);

    // Escape does not read the edit.
    dialog.show();
    dialog.pinEdit()->setText(kPin);
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QVERIFY(dialog.pin().isEmpty());

    PinDlg typed;
    typed.show();
    typed.pinEdit()->setText(kPin);
    typed.okButton()->click();
    QCOMPARE(typed.result(), int(QDialog::Accepted));
    QCOMPARE(typed.pin(), kPin);
}

void PinDialogsTest::queryAsksOnlyWhenNeeded()
{
    QFETCH(bool, hardware);
    Rig rig(hardware);
    storePolicy(rig.key, openPolicy());
    QWidget parent;

    {
        // No PIN on the key: nothing to ask.
        ModalAnswerer answerer([](QDialog* d) { d->reject(); });
        QCOMPARE(query_pin_ifn(rig.device, &parent, ""), PinResult<std::string>(""));
        QCOMPARE(answerer.dialogsSeen(), 0);
    }

    QVERIFY(change_pin(rig.key, utf8(kPin), ""));
    {
        ModalAnswerer answerer([](QDialog* d) {
            auto* dlg = qobject_cast<PinDlg*>(d);
            QVERIFY(dlg);
            dlg->pinEdit()->setText(kPin);
            dlg->okButton()->click();
        });
        std::string cached;
        for (int i = 0; i < 2; ++i) {
            auto pin = query_pin_ifn(rig.device, &parent, cached);
            QVERIFY(pin);
            cached = *pin;
        }
        QCOMPARE(cached, utf8(kPin));
        QCOMPARE(answerer.dialogsSeen(), 1);
        QVERIFY(!answerer.stuck());
    }

    // Closing the dialog without typing is not a cancel: the empty text is
    // checked and refused.
    ModalAnswerer dismisser([](QDialog* d) { QTest::keyClick(d, Qt::Key_Escape); });
    auto pin = query_pin_ifn(rig.device, &parent, "");
    QVERIFY(!pin);
    QCOMPARE(pin.error().message, std::string("PIN is incorrect."));
    QCOMPARE(dismisser.dialogsSeen(), 1);
}

void PinDialogsTest::updatePinMessagesBeforeAnyDeviceCall()
{
    struct Case
    {
        const char* what;
        QString newPin, confirmPin, message;
    };
    const Case cases[] = {
        {"new empty, confirmation typed", "", "abc", "New PIN and confirm PIN do not match."},
        {"confirmation differs", "abcdef", "abcdeg", "New PIN and confirm PIN do not match."},
        {"confirmation longer", "abcdef", "abcdefg", "New PIN and confirm PIN do not match."},
        {"both empty", "", "", "PIN is empty."},
        {"too short for the policy", "xq", "xq", "The minimum PIN length allowed is 6"},
        {"too many repeats", "xqqqqq", "xqqqqq",
         "The maximum pairs of repeating letters allowed is 2"},
    };
    for (const Case& c : cases) {
        Rig rig(true);
        PinPolicyRecord policy = openPolicy();
        policy.minLength = 6;
        policy.maxRepeating = 2;
        storePolicy(rig.key, policy);
        UpdatePinDlg dialog(rig.device);
        dialog.show();
        PaintSpy spy(dialog.messageLabel());
        rig.device.clearCalls();

        dialog.newPinEdit()->setText(c.newPin);
        dialog.confirmPinEdit()->setText(c.confirmPin);
        dialog.okButton()->click();

        QVERIFY2(dialog.isVisible(), c.what);
        QCOMPARE(dialog.messageLabel()->text(), c.message);
        QCOMPARE(rig.device.count(DeviceCall::OtpPersonalize), 0);
        QCOMPARE(rig.device.count(DeviceCall::OtpSetAccess), 0);
        QVERIFY2(!spy.painted.contains(QStringLiteral("Please touch the key...")), c.what);
        // The cheap checks never reach the key.
        if (c.message.startsWith(QStringLiteral("New PIN")) ||
            c.message == QStringLiteral("PIN is empty."))
            QCOMPARE(rig.device.calls().size(), size_t(0));
    }
}

void PinDialogsTest::updatePinCurrentFieldFollowsTheKey()
{
    QFETCH(bool, hardware);
    Rig rig(hardware);
    storePolicy(rig.key, openPolicy());
    {
        UpdatePinDlg dialog(rig.device);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Update PIN"));
        QVERIFY(dialog.currentPinLabel()->isHidden());
        QVERIFY(dialog.currentPinEdit()->isHidden());
        QVERIFY(!dialog.newPinEdit()->isHidden());
        QVERIFY(dialog.messageLabel()->text().isEmpty());
        QCOMPARE(dialog.messageLabel()->accessibleDescription(), QStringLiteral("Message"));
        for (QLineEdit* e : {dialog.currentPinEdit(), dialog.newPinEdit(), dialog.confirmPinEdit()})
            QCOMPARE(e->echoMode(), QLineEdit::Password);
        checkAccessibleNames(&dialog);
    }
    QVERIFY(change_pin(rig.key, utf8(kPin), ""));
    {
        UpdatePinDlg dialog(rig.device);
        QCOMPARE(dialog.currentPinLabel()->text(),
                 QStringLiteral("Please enter your current PIN:"));
        QVERIFY(!dialog.currentPinLabel()->isHidden());
        QVERIFY(!dialog.currentPinEdit()->isHidden());
    }
    if (hardware) {
        LogCapture log;
        rig.device.failAlways(DeviceCall::OtpHasAccess, VN_ERR_STORAGE);
        UpdatePinDlg dialog(rig.device);
        QVERIFY(!dialog.currentPinEdit()->isHidden());
        QCOMPARE(
            log.text(),
            std::string("error [UpdatePinDlg::OnInitDialog] Failed to query is_access_empty\n"));
    }
}

void PinDialogsTest::updatePinChange()
{
    QFETCH(bool, hardware);
    Rig rig(hardware);
    storePolicy(rig.key, openPolicy());
    QVERIFY(change_pin(rig.key, utf8(kPin), ""));

    struct Attempt
    {
        QString current;
        bool touchTimesOut;
        QString message; // empty: the change succeeds
    };
    const Attempt attempts[] = {
        {"Wr0ng#x", false, "Failed to change PIN. Error: Token PIN incorrect."},
        {"", false, "Failed to change PIN. Error: The device has a PIN already."},
        {kPin, true, "Failed to change PIN. Error: Token timed out"},
        {kPin, false, ""},
    };
    UpdatePinDlg dialog(rig.device);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    PaintSpy spy(dialog.messageLabel());
    QStringList shownAtTouch;
    bool busyAtTouch = true;
    rig.hook.beforeTouch = [&] {
        shownAtTouch << (spy.painted.isEmpty() ? QString() : spy.painted.last());
        busyAtTouch = busyAtTouch && busyCursorShown();
    };

    for (const Attempt& a : attempts) {
        if (a.touchTimesOut)
            rig.key.setTouchNever(50);
        else
            rig.key.setTouchAuto(0);
        dialog.currentPinEdit()->setText(a.current);
        dialog.newPinEdit()->setText(kOtherPin);
        dialog.confirmPinEdit()->setText(kOtherPin);
        dialog.okButton()->click();
        if (a.message.isEmpty()) {
            QCOMPARE(dialog.result(), int(QDialog::Accepted));
            QVERIFY(!dialog.isVisible());
        } else {
            QVERIFY(dialog.isVisible());
            QCOMPARE(dialog.messageLabel()->text(), a.message);
        }
    }
    QCOMPARE(verify_pin(rig.key, utf8(kOtherPin)), PinResult<bool>(true));
    // Each write of the record found the prompt already painted.
    QVERIFY(!shownAtTouch.isEmpty());
    for (const QString& shown : shownAtTouch)
        QCOMPARE(shown, QStringLiteral("Please touch the key..."));
    QVERIFY(busyAtTouch);
}

void PinDialogsTest::updatePinCommandRefusedWithoutPolicy()
{
    Rig rig(true);
    PinPolicyRecord off = openPolicy();
    off.enabled = 0;
    storePolicy(rig.key, off);
    FakeMainWindow window(rig.device);
    window.cachedPin = kPin;
    ModalAnswerer answerer([](QDialog* d) { d->reject(); });
    OnBnClickedUpdatePin(window);
    QCOMPARE(answerer.dialogsSeen(), 0);
    QCOMPARE(window.status, QStringLiteral("Please enable PIN policy before setting a PIN."));
    QVERIFY(window.messages.isEmpty());
}

void PinDialogsTest::updatePinCommandForgetsTheCachedPin()
{
    Rig rig(true);
    storePolicy(rig.key, openPolicy());
    QVERIFY(change_pin(rig.key, utf8(kPin), ""));
    FakeMainWindow window(rig.device);
    window.cachedPin = kPin;

    {
        ModalAnswerer cancel([](QDialog* d) {
            auto* dlg = qobject_cast<UpdatePinDlg*>(d);
            QVERIFY(dlg);
            dlg->cancelButton()->click();
        });
        OnBnClickedUpdatePin(window);
        QCOMPARE(cancel.dialogsSeen(), 1);
    }
    QVERIFY(window.cachedPin.isEmpty());
    QCOMPARE(window.buttonUpdates, 1);
    QCOMPARE(window.updatePinButton.text(), QStringLiteral("Change PIN"));

    // The next protected operation has to ask again.
    ModalAnswerer answer([](QDialog* d) {
        auto* dlg = qobject_cast<PinDlg*>(d);
        QVERIFY(dlg);
        dlg->pinEdit()->setText(kPin);
        dlg->okButton()->click();
    });
    auto pin = query_pin_ifn(rig.device, window.dialogParent(), utf8(window.cachedPin));
    QVERIFY(pin);
    QCOMPARE(answer.dialogsSeen(), 1);
}

void PinDialogsTest::buttonCaptionFollowsTheKey()
{
    QFETCH(bool, hardware);
    Rig rig(hardware);
    FakeMainWindow window(rig.device);
    QPushButton& button = window.updatePinButton;

    window.change_pin_button_status();
    QVERIFY(!button.isEnabled());
    QCOMPARE(button.text(), QStringLiteral("Update PIN"));

    {
        // A fresh key gets its policy from the PIN Policy dialog.
        ModalAnswerer save([](QDialog* d) {
            auto* dlg = qobject_cast<CPinPolicyDlg*>(d);
            QVERIFY(dlg);
            dlg->enabledBox()->click();
            dlg->fieldEdit(PolicyField::MinLength)->setText(QStringLiteral("6"));
            dlg->fieldEdit(PolicyField::MaxSequential)->setText(QStringLiteral("3"));
            dlg->fieldEdit(PolicyField::MaxRepeating)->setText(QStringLiteral("2"));
            dlg->okButton()->click();
        });
        OnBnClickedPinPolicy(window);
        QCOMPARE(save.dialogsSeen(), 1);
        QVERIFY(!save.stuck());
    }
    QVERIFY(button.isEnabled());
    QCOMPARE(button.text(), QStringLiteral("Set PIN"));
    QCOMPARE(accessibleText(&button, QAccessible::Name), QStringLiteral("Set PIN"));

    {
        ModalAnswerer set([](QDialog* d) {
            auto* dlg = qobject_cast<UpdatePinDlg*>(d);
            QVERIFY(dlg);
            QVERIFY(dlg->currentPinEdit()->isHidden());
            dlg->newPinEdit()->setText(kPin);
            dlg->confirmPinEdit()->setText(kPin);
            dlg->okButton()->click();
        });
        OnBnClickedUpdatePin(window);
        QCOMPARE(set.dialogsSeen(), 1);
        QVERIFY(!set.stuck());
    }
    QVERIFY(button.isEnabled());
    QCOMPARE(button.text(), QStringLiteral("Change PIN"));
    QCOMPARE(verify_pin(rig.key, utf8(kPin)), PinResult<bool>(true));

    // Switching the policy off disables the button and leaves its caption.
    {
        ModalAnswerer off([](QDialog* d) {
            auto* dlg = qobject_cast<CPinPolicyDlg*>(d);
            QVERIFY(dlg);
            dlg->enabledBox()->click();
            dlg->okButton()->click();
        });
        OnBnClickedPinPolicy(window);
    }
    QVERIFY(!button.isEnabled());
    QCOMPARE(button.text(), QStringLiteral("Change PIN"));
}

void PinDialogsTest::buttonCaptionWhenAccessStateUnknown()
{
    Rig rig(true);
    storePolicy(rig.key, openPolicy());
    QPushButton button(QStringLiteral("Set PIN"));
    button.setEnabled(false);
    LogCapture log;
    rig.device.failAlways(DeviceCall::OtpHasAccess, VN_ERR_STORAGE);
    change_pin_button_status(rig.device, &button);
    QVERIFY(button.isEnabled());
    QCOMPARE(button.text(), QStringLiteral("Set PIN"));
    QCOMPARE(log.text(),
             std::string("error [change_pin_button_status] Failed to check is_access_empty\n"));
}

void PinDialogsTest::policyDialogOpens()
{
    Rig rig(true);
    CPinPolicyDlg fresh(rig.device, nullptr, [](std::string_view) {});
    QCOMPARE(fresh.windowTitle(), QStringLiteral("PIN Policy"));
    QVERIFY(!fresh.enabledBox()->isChecked());
    for (std::size_t i = 0; i < kPolicyFieldCount; ++i) {
        const auto f = static_cast<PolicyField>(i);
        QCOMPARE(fresh.fieldEdit(f)->text(), QStringLiteral("0"));
        QVERIFY(!fresh.fieldEdit(f)->isEnabled());
        QVERIFY(!fresh.fieldLabel(f)->isEnabled());
    }
    QVERIFY(fresh.daysLabel()->isEnabled());
    QVERIFY(fresh.messageLabel()->text().isEmpty());
    QCOMPARE(fresh.messageLabel()->accessibleDescription(), QStringLiteral("Message"));
    for (QGroupBox* g : fresh.findChildren<QGroupBox*>())
        QVERIFY(g->isEnabled());
    checkAccessibleNames(&fresh);

    // Ticking the box enables the rule controls at once; nothing is written.
    rig.device.clearCalls();
    fresh.enabledBox()->click();
    QVERIFY(fresh.fieldEdit(PolicyField::ExpiryDays)->isEnabled());
    QVERIFY(fresh.fieldLabel(PolicyField::MinLength)->isEnabled());
    fresh.enabledBox()->click();
    QVERIFY(!fresh.fieldEdit(PolicyField::MinLength)->isEnabled());
    QCOMPARE(rig.device.count(DeviceCall::OtpPersonalize), 0);
}

void PinDialogsTest::policyDialogSavesExactly()
{
    Rig rig(false);
    PinPolicyRecord stored = openPolicy();
    stored.pinDigest = pin_digest(utf8(kPin));
    stored.pinSetTime = 1700000000;
    storePolicy(rig.key, stored);

    std::vector<std::string> fileLog;
    CPinPolicyDlg dialog(rig.device, nullptr,
                         [&](std::string_view line) { fileLog.emplace_back(line); });
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QVERIFY(dialog.enabledBox()->isChecked());
    QCOMPARE(dialog.fieldEdit(PolicyField::MaxSequential)->text(), QStringLiteral("9"));

    const QString typed[kPolicyFieldCount] = {"255", "1", "2", "3", "4", "5", "6", "65535"};
    for (std::size_t i = 0; i < kPolicyFieldCount; ++i)
        dialog.fieldEdit(static_cast<PolicyField>(i))->setText(typed[i]);
    PaintSpy spy(dialog.messageLabel());
    QString shownAtTouch;
    rig.hook.beforeTouch = [&] {
        shownAtTouch = spy.painted.isEmpty() ? QString() : spy.painted.last();
        QVERIFY(busyCursorShown());
    };
    dialog.okButton()->click();

    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(shownAtTouch, QStringLiteral("Touch the Key..."));
    PinPolicyRecord expected = stored; // the PIN state is carried over
    expected.minLength = 255;
    expected.minNumeric = 1;
    expected.minLowercase = 2;
    expected.minUppercase = 3;
    expected.minSpecial = 4;
    expected.maxSequential = 5;
    expected.maxRepeating = 6;
    expected.expiryDays = 65535;
    QVERIFY(storedPolicy(rig.key) == expected);
    QCOMPARE(fileLog, std::vector<std::string>{"[OnSaveCmd]"});
    const auto writes = rig.device.callsOf(DeviceCall::OtpPersonalize);
    QCOMPARE(writes.size(), size_t(1));
    QVERIFY(writes[0].accessIsNull);
}

void PinDialogsTest::policyDialogFailedSave()
{
    Rig rig(true);
    std::vector<std::string> fileLog;
    CPinPolicyDlg dialog(rig.device, nullptr,
                         [&](std::string_view line) { fileLog.emplace_back(line); });
    dialog.show();
    dialog.enabledBox()->click();
    dialog.fieldEdit(PolicyField::MinLength)->setText(QStringLiteral("4"));

    rig.key.setTouchNever(50);
    dialog.okButton()->click();
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.messageLabel()->text(),
             QStringLiteral("Failed to write PIN policy. Error: Token timed out"));

    rig.key.setTouchAuto(0);
    rig.device.failNext(DeviceCall::OtpPersonalize, VN_ERR_STORAGE);
    dialog.okButton()->click();
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.messageLabel()->text(),
             QStringLiteral("Failed to write PIN policy. Error: Failed to write PIN policy."));
    QVERIFY(!is_pin_policy_enabled(rig.key));

    // OK again repeats the whole save.
    dialog.okButton()->click();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(storedPolicy(rig.key).minLength, uint8_t(4));
    QVERIFY(is_pin_policy_enabled(rig.key));
    const std::vector<std::string> expectedLog = {
        "[OnSaveCmd]", "[OnSaveCmd] Failed to write PIN policy. Error: Token timed out",
        "[OnSaveCmd]", "[OnSaveCmd] Failed to write PIN policy. Error: Failed to write PIN policy.",
        "[OnSaveCmd]",
    };
    QCOMPARE(fileLog, expectedLog);
}

void PinDialogsTest::policyDialogRefusesBadFields_data()
{
    QTest::addColumn<int>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message");
    const QString rules = QStringLiteral("Please enter a whole number from 0 to 255 for ");
    QTest::newRow("empty length") << int(PolicyField::MinLength) << QString()
                                  << rules + "the minimum PIN length.";
    QTest::newRow("300 repeats") << int(PolicyField::MaxRepeating) << QStringLiteral("300")
                                 << rules + "the maximum number of repeating letters.";
    QTest::newRow("256 special") << int(PolicyField::MinSpecial) << QStringLiteral("256")
                                 << rules + "the minimum number of special letters.";
    QTest::newRow("not a number") << int(PolicyField::MinUppercase) << QStringLiteral("3a")
                                  << rules + "the minimum number of uppercase letters.";
    QTest::newRow("65537 days")
        << int(PolicyField::ExpiryDays) << QStringLiteral("65537")
        << QStringLiteral("Please enter a whole number from 0 to 65535 for the days after which "
                          "a newly set PIN expires.");
}

void PinDialogsTest::policyDialogRefusesBadFields()
{
    QFETCH(int, field);
    QFETCH(QString, text);
    QFETCH(QString, message);
    Rig rig(true);
    std::vector<std::string> fileLog;
    CPinPolicyDlg dialog(rig.device, nullptr,
                         [&](std::string_view line) { fileLog.emplace_back(line); });
    dialog.show();
    dialog.enabledBox()->click();
    // A later field is wrong as well: the first one in reading order is named.
    if (field != int(PolicyField::ExpiryDays))
        dialog.fieldEdit(PolicyField::ExpiryDays)->setText(QStringLiteral("99999"));
    QLineEdit* bad = dialog.fieldEdit(static_cast<PolicyField>(field));
    bad->setText(text);
    rig.device.clearCalls();

    dialog.okButton()->click();

    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.messageLabel()->text(), message);
    QCOMPARE(dialog.focusWidget(), static_cast<QWidget*>(bad));
    QCOMPARE(rig.device.count(DeviceCall::OtpPersonalize), 0);
    QCOMPARE(fileLog, std::vector<std::string>{"[OnSaveCmd]"});
    QVERIFY(!is_pin_policy_enabled(rig.key));
}

void PinDialogsTest::policyDialogKeepsRulesWhenSwitchedOff()
{
    Rig rig(true);
    PinPolicyRecord stored = openPolicy();
    stored.minLength = 5;
    stored.expiryDays = 30;
    storePolicy(rig.key, stored);
    {
        CPinPolicyDlg dialog(rig.device, nullptr, [](std::string_view) {});
        dialog.show();
        dialog.enabledBox()->click();
        dialog.okButton()->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
    }
    QVERIFY(!is_pin_policy_enabled(rig.key));
    CPinPolicyDlg reopened(rig.device, nullptr, [](std::string_view) {});
    QVERIFY(!reopened.enabledBox()->isChecked());
    QCOMPARE(reopened.fieldEdit(PolicyField::MinLength)->text(), QStringLiteral("5"));
    QCOMPARE(reopened.fieldEdit(PolicyField::ExpiryDays)->text(), QStringLiteral("30"));
    QVERIFY(!reopened.fieldEdit(PolicyField::MinLength)->isEnabled());
}

QTEST_MAIN(PinDialogsTest)
#include "PinDialogsTest.moc"
