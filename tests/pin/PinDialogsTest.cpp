#include "PinTestSupport.h"
#include "device/MainWindowPort.h"
#include "pin/CPinPolicyDlg.h"
#include "pin/PinAccess.h"
#include "pin/PinCommands.h"
#include "pin/PinDlg.h"
#include "pin/QueryPin.h"
#include "pin/UpdatePinDlg.h"
#include "support/ScriptedDevice.h"
#include "support/VirtualKeyDevice.h"

#include <QAccessible>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

namespace {

const QString kPin = QStringLiteral("Kq7#pw");
const QString kOtherPin = QStringLiteral("Zt4!mv");
const QString kTouchPrompt = QStringLiteral("Please touch the key...");

// Acts once on each modal Dialog that opens while it lives; any modal dialog
// still open 3 s after it appeared is rejected, so nothing can hang.
template <class Dialog> class ModalAnswerer
{
public:
    explicit ModalAnswerer(std::function<void(Dialog*)> act)
    {
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this, act] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (dialog && dialog != m_current) {
                m_current = dialog;
                m_ticks = 0;
                QObject::connect(dialog, &QDialog::finished, &m_timer,
                                 [this] { m_current = nullptr; });
                if (auto* typed = qobject_cast<Dialog*>(dialog)) {
                    ++seen;
                    act(typed);
                }
            } else if (dialog && ++m_ticks > 300) {
                dialog->reject();
            }
        });
        m_timer.start(10);
    }
    int seen = 0;

private:
    QTimer m_timer;
    QDialog* m_current = nullptr;
    int m_ticks = 0;
};

// Every text a label showed when it was painted.
class PaintSpy : public QObject
{
public:
    explicit PaintSpy(QLabel* label) { label->installEventFilter(this); }
    QStringList painted;
    bool eventFilter(QObject* label, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            painted << static_cast<QLabel*>(label)->text();
        return false;
    }
};

class FakeMainWindow final : public MainWindowPort
{
public:
    explicit FakeMainWindow(DeviceApi& device) : m_device(device) { button.setEnabled(false); }
    DeviceApi& device() override { return m_device; }
    void AppendMessage(const QString& text) override { messages += text; }
    void SetStatusText(const QString& text) override { status = text; }
    void setControlEnabled(int, bool) override {}
    bool isControlEnabled(int) const override { return true; }
    void clearTokenRows() override {}
    void appendTokenRow(const QStringList&) override {}
    int tokenRowCount() const override { return 0; }
    int selectedTokenRow() const override { return -1; }
    QString tokenCell(int, int) const override { return {}; }
    void removeTokenRow(int) override {}
    void RefreshTokenList() override {}
    void change_pin_button_status() override { ::change_pin_button_status(m_device, &button); }
    QWidget* dialogParent() override { return &parent; }

    QWidget parent;
    QPushButton button{QStringLiteral("Update PIN")};
    QString messages, status;

private:
    DeviceApi& m_device;
};

struct Rig
{
    explicit Rig(bool hardware = true) : key("VK1000001", hardware) {}
    VirtualKeyDevice key;
    ScriptedDevice device{key};
};

void typePin(PinDlg* dialog)
{
    dialog->pinEdit()->setText(kPin);
    dialog->okButton()->click();
}

void setPins(UpdatePinDlg* d, const QString& current, const QString& newPin, const QString& confirm)
{
    d->currentPinEdit()->setText(current);
    d->newPinEdit()->setText(newPin);
    d->confirmPinEdit()->setText(confirm);
    d->okButton()->click();
}

// Every edit, button and group is named for assistive technology, an edit by
// its buddy label; the message line is described as "Message".
void checkAccessibility(QWidget* dialog)
{
    for (QWidget* w : dialog->findChildren<QWidget*>()) {
        if (qobject_cast<QLineEdit*>(w) || qobject_cast<QAbstractButton*>(w) ||
            qobject_cast<QGroupBox*>(w))
            QVERIFY(!QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name).isEmpty());
    }
    for (QLabel* label : dialog->findChildren<QLabel*>()) {
        if (label->buddy())
            QCOMPARE(label->buddy()->accessibleName(), label->text());
    }
    auto* message = dialog->findChild<QLabel*>(QStringLiteral("messageLabel"));
    QVERIFY(!message || message->accessibleDescription() == QStringLiteral("Message"));
}

} // namespace

class PinDialogsTest : public QObject
{
    Q_OBJECT

private slots:
    void updatePinChecksBeforeTheKeyAndKeepsErrors()
    {
        Rig rig;
        PinPolicyRecord policy = openPolicy();
        policy.minLength = 6;
        storePolicy(rig.key, policy);
        const QString mismatch = QStringLiteral("New PIN and confirm PIN do not match.");
        const std::tuple<QString, QString, QString> cases[] = {
            {"", "abc", mismatch},
            {"abcdef", "abcdefg", mismatch},
            {"", "", "PIN is empty."},
            {"xq", "xq", "The minimum PIN length allowed is 6"},
        };
        for (const auto& [newPin, confirmPin, message] : cases) {
            UpdatePinDlg dialog(rig.device);
            QVERIFY(dialog.currentPinLabel()->isHidden() && dialog.currentPinEdit()->isHidden());
            checkAccessibility(&dialog);
            dialog.show();
            rig.device.clearCalls();
            setPins(&dialog, kOtherPin, newPin, confirmPin);
            QVERIFY(dialog.isVisible());
            QCOMPARE(dialog.messageLabel()->text(), message);
            // Only the policy check reads the key; nothing is written.
            QCOMPARE(rig.device.calls().size(), size_t(message.startsWith("The") ? 1 : 0));
        }

        // With a PIN on the key: errors stay in the message line.
        QVERIFY(change_pin(rig.key, kPin.toStdString(), ""));
        UpdatePinDlg dialog(rig.device);
        QVERIFY(!dialog.currentPinLabel()->isHidden() && !dialog.currentPinEdit()->isHidden());
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        PaintSpy spy(dialog.messageLabel());
        setPins(&dialog, "Wr0ng#x", kOtherPin, kOtherPin);
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.messageLabel()->text(),
                 "Failed to change PIN. Error: Token PIN incorrect.");
        setPins(&dialog, kPin, kOtherPin, kOtherPin);
        QVERIFY(!dialog.isVisible() && dialog.result() == QDialog::Accepted);
        QCOMPARE(verify_pin(rig.key, kOtherPin.toStdString()), true);
        // The prompt is replaced before the event loop runs again, so only a
        // paint forced before the blocking call can have shown it.
        QVERIFY(spy.painted.contains(kTouchPrompt));

        LogCapture log;
        rig.device.failAlways(DeviceCall::OtpHasAccess, VN_ERR_STORAGE);
        rig.device.failAlways(DeviceCall::OtpChangeAccess, VN_OK); // hardware mode either way
        UpdatePinDlg unsure(rig.device);
        QVERIFY(!unsure.currentPinEdit()->isHidden());
        QCOMPARE(log.text(),
                 "error [UpdatePinDlg::OnInitDialog] Failed to query is_access_empty\n");
    }

    // Software mode: the PIN lives in the record that the policy dialog rewrites.
    void buttonAndCachedPinFollowTheKey()
    {
        Rig rig(false);
        FakeMainWindow window(rig.device);
        const auto button = [&] { return window.button.isEnabled() ? window.button.text() : ""; };
        window.change_pin_button_status();
        QCOMPARE(button(), QString());
        QCOMPARE(window.button.text(), QStringLiteral("Update PIN"));
        window.cachedPin = kPin;
        OnBnClickedUpdatePin(window); // no policy yet: no dialog, the cache kept
        QCOMPARE(window.status, QStringLiteral("Please enable PIN policy before setting a PIN."));
        QVERIFY(window.messages.isEmpty() && window.cachedPin == kPin);

        ModalAnswerer<CPinPolicyDlg> policy([](CPinPolicyDlg* d) {
            d->enabledBox()->click();
            d->okButton()->click();
        });
        OnBnClickedPinPolicy(window); // a fresh key gets its first record
        QCOMPARE(button(), QStringLiteral("Set PIN"));
        QCOMPARE(window.button.accessibleName(), QStringLiteral("Set PIN"));
        QCOMPARE(query_pin_ifn(rig.device, &window.parent, ""), ""); // no PIN: not asked
        {
            ModalAnswerer<UpdatePinDlg> set([](UpdatePinDlg* d) { setPins(d, "", kPin, kPin); });
            OnBnClickedUpdatePin(window);
            QCOMPARE(set.seen, 1);
        }
        QCOMPARE(button(), QStringLiteral("Change PIN"));
        QCOMPARE(verify_pin(rig.key, kPin.toStdString()), true);
        {
            ModalAnswerer<PinDlg> answer(typePin);
            std::string cached;
            for (int i = 0; i < 2; ++i)
                cached = query_pin_ifn(rig.device, &window.parent, cached).value_or("failed");
            QCOMPARE(cached, kPin.toStdString());
            QCOMPARE(answer.seen, 1);
            window.cachedPin = kPin;
        }
        {
            ModalAnswerer<UpdatePinDlg> cancel([](UpdatePinDlg* d) { d->cancelButton()->click(); });
            OnBnClickedUpdatePin(window);
            QCOMPARE(cancel.seen, 1);
        }
        QVERIFY(window.cachedPin.isEmpty()); // even after Cancel, so the next operation asks
        ModalAnswerer<PinDlg> escape([](PinDlg* d) {
            QVERIFY(d->windowTitle() == "PIN" && d->pinEdit()->echoMode() == QLineEdit::Password);
            checkAccessibility(d);
            d->pinEdit()->setText(kPin);
            QTest::keyClick(d, Qt::Key_Escape); // drops the text: the empty PIN is verified
        });
        QCOMPARE(query_pin_ifn(rig.device, &window.parent, window.cachedPin.toStdString()),
                 failure<std::string>(0, "PIN is incorrect."));
        QCOMPARE(escape.seen, 1);

        OnBnClickedPinPolicy(window); // switched off: disabled, caption kept
        QCOMPARE(button(), QString());
        QCOMPARE(window.button.text(), QStringLiteral("Change PIN"));
        QCOMPARE(policy.seen, 2);

        LogCapture log;
        storePolicy(rig.key, openPolicy());
        rig.device.failAlways(DeviceCall::OtpHasAccess, VN_ERR_STORAGE);
        rig.device.failAlways(DeviceCall::OtpChangeAccess, VN_OK); // hardware mode now
        window.change_pin_button_status();
        QCOMPARE(button(), QStringLiteral("Change PIN"));
        QCOMPARE(log.text(), "error [change_pin_button_status] Failed to check is_access_empty\n");
    }

    // A switched-off policy opens greyed with its values; the save refuses
    // what it cannot store, reports a failed write, then saves exactly what is
    // shown and keeps the PIN state.
    void policyDialogOpensRefusesAndSaves()
    {
        Rig rig(false);
        PinPolicyRecord stored = openPolicy();
        stored.enabled = 0;
        stored.expiryDays = 30;
        stored.pinDigest = pin_digest(kPin.toStdString());
        stored.pinSetTime = 1700000000;
        storePolicy(rig.key, stored);
        std::vector<std::string> fileLog;
        CPinPolicyDlg dialog(rig.device, nullptr,
                             [&](std::string_view line) { fileLog.emplace_back(line); });
        QCOMPARE(dialog.windowTitle(), QStringLiteral("PIN Policy"));
        QVERIFY(!dialog.enabledBox()->isChecked() && dialog.messageLabel()->text().isEmpty());
        for (std::size_t i = 0; i < kPolicyFieldCount; ++i) {
            const auto f = static_cast<PolicyField>(i);
            QCOMPARE(dialog.fieldEdit(f)->text().toUInt(), policy_values_of(stored).values[i]);
            QVERIFY(!dialog.fieldEdit(f)->isEnabled() && !dialog.fieldLabel(f)->isEnabled());
        }
        QVERIFY(dialog.daysLabel()->isEnabled());
        checkAccessibility(&dialog);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        PaintSpy spy(dialog.messageLabel());
        dialog.enabledBox()->click();
        QVERIFY(dialog.fieldEdit(PolicyField::ExpiryDays)->isEnabled());
        QVERIFY(dialog.fieldLabel(PolicyField::MinLength)->isEnabled());

        const QString rules = QStringLiteral("Please enter a whole number from 0 to 255 for ");
        const std::tuple<PolicyField, QString, QString> refused[] = {
            {PolicyField::MinLength, "", rules + "the minimum PIN length."},
            {PolicyField::MaxRepeating, "300", rules + "the maximum number of repeating letters."},
            {PolicyField::MinUppercase, "3a", rules + "the minimum number of uppercase letters."},
            {PolicyField::ExpiryDays, "65537",
             "Please enter a whole number from 0 to 65535 for the days after which a newly set "
             "PIN expires."},
        };
        // A later field is wrong too: the first one in reading order is named.
        dialog.fieldEdit(PolicyField::ExpiryDays)->setText(QStringLiteral("99999"));
        for (const auto& [field, text, message] : refused) {
            QLineEdit* bad = dialog.fieldEdit(field);
            const QString before = bad->text();
            bad->setText(text);
            dialog.okButton()->click();
            QVERIFY(dialog.isVisible());
            QCOMPARE(dialog.messageLabel()->text(), message);
            QCOMPARE(dialog.focusWidget(), bad);
            bad->setText(before);
        }
        QCOMPARE(rig.device.count(DeviceCall::OtpPersonalize), 0); // nothing written

        const char* typed[kPolicyFieldCount] = {"255", "1", "2", "3", "4", "5", "6", "65535"};
        for (std::size_t i = 0; i < kPolicyFieldCount; ++i)
            dialog.fieldEdit(static_cast<PolicyField>(i))->setText(typed[i]);
        rig.device.failNext(DeviceCall::OtpPersonalize, VN_ERR_TOUCH_TIMEOUT);
        dialog.okButton()->click();
        const std::string failed = "Failed to write PIN policy. Error: Token timed out";
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.messageLabel()->text().toStdString(), failed);
        QCOMPARE(read_pin_policy_or_zero(rig.key), stored);

        dialog.okButton()->click(); // OK again repeats the whole save
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        std::vector<std::string> expectedLog(std::size(refused) + 1, "[OnSaveCmd]");
        expectedLog.insert(expectedLog.end(), {"[OnSaveCmd] " + failed, "[OnSaveCmd]"});
        QCOMPARE(fileLog, expectedLog);
        QVERIFY(spy.painted.contains(QStringLiteral("Touch the Key...")));
        PinPolicyRecord expected = stored; // the PIN state is carried over
        expected.enabled = 1;
        std::tie(expected.minLength, expected.minNumeric, expected.minLowercase,
                 expected.minUppercase, expected.minSpecial, expected.maxSequential,
                 expected.maxRepeating, expected.expiryDays) =
            std::tuple{255, 1, 2, 3, 4, 5, 6, 65535};
        QCOMPARE(read_pin_policy_or_zero(rig.key), expected);
    }
};

QTEST_MAIN(PinDialogsTest)
#include "PinDialogsTest.moc"
