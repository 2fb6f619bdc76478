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

// Answers each modal dialog of its type that a command opens, once; a modal
// dialog that stays open 3 s after it appeared is rejected and marked stuck,
// so nothing can hang.
class ModalAnswerer
{
public:
    template <class Dialog> explicit ModalAnswerer(std::function<void(Dialog*)> act)
    {
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this, act] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            if (dialog != m_current) {
                m_current = dialog;
                m_ticks = 0;
                QObject::connect(dialog, &QDialog::finished, &m_timer,
                                 [this] { m_current = nullptr; });
                if (auto* typed = qobject_cast<Dialog*>(dialog)) {
                    ++seen;
                    act(typed);
                }
            } else if (++m_ticks > 300) {
                stuck = true;
                dialog->reject();
            }
        });
        m_timer.start(10);
    }
    int seen = 0;
    bool stuck = false;

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
    void modes_data()
    {
        QTest::addColumn<bool>("hardware");
        QTest::newRow("hardware") << true;
        QTest::newRow("software") << false;
    }

    void queryShowsThePinDialogOnlyWhenNeeded_data() { modes_data(); }
    void queryShowsThePinDialogOnlyWhenNeeded()
    {
        QFETCH(bool, hardware);
        Rig rig(hardware);
        storePolicy(rig.key, openPolicy());
        QWidget parent;
        std::string cached;
        {
            ModalAnswerer answer{std::function<void(PinDlg*)>(typePin)};
            QCOMPARE(query_pin_ifn(rig.device, &parent, cached), ""); // no PIN yet
            QVERIFY(change_pin(rig.key, kPin.toStdString(), ""));
            for (int i = 0; i < 2; ++i)
                cached = query_pin_ifn(rig.device, &parent, cached).value_or("failed");
            QCOMPARE(cached, kPin.toStdString());
            QCOMPARE(answer.seen, 1);
        }
        // Escape does not take the typed text; the empty PIN is verified.
        ModalAnswerer escape{std::function<void(PinDlg*)>([](PinDlg* d) {
            QVERIFY(d->windowTitle() == "PIN" && d->pinEdit()->echoMode() == QLineEdit::Password);
            checkAccessibility(d);
            d->pinEdit()->setText(kPin);
            QTest::keyClick(d, Qt::Key_Escape);
        })};
        QCOMPARE(query_pin_ifn(rig.device, &parent, ""),
                 PinResult<std::string>(std::unexpected(Err{0, "PIN is incorrect."})));
        QCOMPARE(escape.seen, 1);
    }

    void updatePinChecksBeforeTheKey_data()
    {
        QTest::addColumn<QString>("newPin");
        QTest::addColumn<QString>("confirmPin");
        QTest::addColumn<QString>("message");
        const QString mismatch = QStringLiteral("New PIN and confirm PIN do not match.");
        QTest::newRow("new empty") << ""
                                   << "abc" << mismatch;
        QTest::newRow("longer") << "abcdef"
                                << "abcdefg" << mismatch;
        QTest::newRow("both empty") << ""
                                    << ""
                                    << "PIN is empty.";
        QTest::newRow("policy") << "xq"
                                << "xq"
                                << "The minimum PIN length allowed is 6";
    }
    void updatePinChecksBeforeTheKey()
    {
        QFETCH(QString, newPin);
        QFETCH(QString, confirmPin);
        QFETCH(QString, message);
        Rig rig;
        PinPolicyRecord policy = openPolicy();
        policy.minLength = 6;
        storePolicy(rig.key, policy);
        UpdatePinDlg dialog(rig.device);
        QVERIFY(dialog.currentPinLabel()->isHidden() && dialog.currentPinEdit()->isHidden());
        checkAccessibility(&dialog);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        PaintSpy spy(dialog.messageLabel());
        rig.device.clearCalls();
        dialog.newPinEdit()->setText(newPin);
        dialog.confirmPinEdit()->setText(confirmPin);
        dialog.okButton()->click();
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.messageLabel()->text(), message);
        // Only the policy check reads the key; nothing is written or prompted.
        QCOMPARE(rig.device.calls().size(), size_t(message.startsWith("The") ? 1 : 0));
        QVERIFY(!spy.painted.contains(QStringLiteral("Please touch the key...")));
    }

    void updatePinErrorsStayInTheDialog_data() { modes_data(); }
    void updatePinErrorsStayInTheDialog()
    {
        QFETCH(bool, hardware);
        Rig rig(hardware);
        storePolicy(rig.key, openPolicy());
        QVERIFY(change_pin(rig.key, kPin.toStdString(), ""));
        UpdatePinDlg dialog(rig.device);
        QVERIFY(!dialog.currentPinLabel()->isHidden() && !dialog.currentPinEdit()->isHidden());
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        PaintSpy spy(dialog.messageLabel());
        const std::tuple<QString, bool, QString> attempts[] = {
            {"Wr0ng#x", false, "Failed to change PIN. Error: Token PIN incorrect."},
            {"", false, "Failed to change PIN. Error: The device has a PIN already."},
            {kPin, true, "Failed to change PIN. Error: Token timed out"},
            {kPin, false, ""},
        };
        for (const auto& [current, noTouch, message] : attempts) {
            noTouch ? rig.key.setTouchNever(20) : rig.key.setTouchAuto(0);
            dialog.currentPinEdit()->setText(current);
            dialog.newPinEdit()->setText(kOtherPin);
            dialog.confirmPinEdit()->setText(kOtherPin);
            dialog.okButton()->click();
            QCOMPARE(dialog.isVisible(), !message.isEmpty());
            if (!message.isEmpty())
                QCOMPARE(dialog.messageLabel()->text(), message);
        }
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(verify_pin(rig.key, kOtherPin.toStdString()), true);
        // The prompt is replaced before the event loop runs again, so only a
        // paint forced before the blocking call can have shown it.
        QVERIFY(spy.painted.contains(QStringLiteral("Please touch the key...")));

        LogCapture log;
        rig.device.failAlways(DeviceCall::OtpHasAccess, VN_ERR_STORAGE);
        rig.device.failAlways(DeviceCall::OtpChangeAccess, VN_OK); // hardware mode either way
        UpdatePinDlg unsure(rig.device);
        QVERIFY(!unsure.currentPinEdit()->isHidden());
        QCOMPARE(log.text(),
                 "error [UpdatePinDlg::OnInitDialog] Failed to query is_access_empty\n");
    }

    void updatePinCommand()
    {
        Rig rig;
        FakeMainWindow window(rig.device);
        window.cachedPin = kPin;
        ModalAnswerer cancel{std::function<void(UpdatePinDlg*)>(
            [](UpdatePinDlg* d) { d->cancelButton()->click(); })};
        OnBnClickedUpdatePin(window); // no policy yet
        QCOMPARE(cancel.seen, 0);
        QCOMPARE(window.status, QStringLiteral("Please enable PIN policy before setting a PIN."));
        QVERIFY(window.messages.isEmpty() && window.cachedPin == kPin);

        storePolicy(rig.key, openPolicy());
        QVERIFY(change_pin(rig.key, kPin.toStdString(), ""));
        OnBnClickedUpdatePin(window);
        QCOMPARE(cancel.seen, 1);
        QVERIFY(window.cachedPin.isEmpty()); // even after Cancel
        QCOMPARE(window.button.text(), QStringLiteral("Change PIN"));
        // So the next protected operation asks again.
        ModalAnswerer answer{std::function<void(PinDlg*)>(typePin)};
        QVERIFY(query_pin_ifn(rig.device, &window.parent, window.cachedPin.toStdString()));
        QCOMPARE(answer.seen, 1);
    }

    void buttonFollowsTheKey_data() { modes_data(); }
    void buttonFollowsTheKey()
    {
        QFETCH(bool, hardware);
        Rig rig(hardware);
        FakeMainWindow window(rig.device);
        window.change_pin_button_status();
        QVERIFY(!window.button.isEnabled());
        QCOMPARE(window.button.text(), QStringLiteral("Update PIN"));

        ModalAnswerer policy{std::function<void(CPinPolicyDlg*)>([](CPinPolicyDlg* d) {
            d->enabledBox()->click();
            d->okButton()->click();
        })};
        OnBnClickedPinPolicy(window); // a fresh key gets its first record
        QVERIFY(window.button.isEnabled());
        QCOMPARE(window.button.text(), QStringLiteral("Set PIN"));
        QCOMPARE(window.button.accessibleName(), QStringLiteral("Set PIN"));

        ModalAnswerer set{std::function<void(UpdatePinDlg*)>([](UpdatePinDlg* d) {
            d->newPinEdit()->setText(kPin);
            d->confirmPinEdit()->setText(kPin);
            d->okButton()->click();
        })};
        OnBnClickedUpdatePin(window);
        QCOMPARE(window.button.text(), QStringLiteral("Change PIN"));
        QCOMPARE(verify_pin(rig.key, kPin.toStdString()), true);

        OnBnClickedPinPolicy(window); // switched off: disabled, caption kept
        QVERIFY(!window.button.isEnabled());
        QCOMPARE(window.button.text(), QStringLiteral("Change PIN"));
        QVERIFY(policy.seen == 2 && set.seen == 1 && !policy.stuck && !set.stuck);

        LogCapture log;
        storePolicy(rig.key, openPolicy());
        rig.device.failAlways(DeviceCall::OtpHasAccess, VN_ERR_STORAGE);
        rig.device.failAlways(DeviceCall::OtpChangeAccess, VN_OK);
        window.change_pin_button_status();
        QVERIFY(window.button.isEnabled());
        QCOMPARE(window.button.text(), QStringLiteral("Change PIN"));
        QCOMPARE(log.text(), "error [change_pin_button_status] Failed to check is_access_empty\n");
    }

    void policyDialogOpensFromTheKey()
    {
        Rig rig;
        PinPolicyRecord off = openPolicy(); // switched off: values shown, greyed
        off.enabled = 0;
        off.expiryDays = 30;
        for (const PinPolicyRecord& r : {PinPolicyRecord{}, off}) {
            if (r.expiryDays)
                storePolicy(rig.key, r);
            CPinPolicyDlg dialog(rig.device, nullptr, [](std::string_view) {});
            QCOMPARE(dialog.windowTitle(), QStringLiteral("PIN Policy"));
            QVERIFY(!dialog.enabledBox()->isChecked() && dialog.messageLabel()->text().isEmpty());
            for (std::size_t i = 0; i < kPolicyFieldCount; ++i) {
                const auto f = static_cast<PolicyField>(i);
                QCOMPARE(dialog.fieldEdit(f)->text().toUInt(), policy_values_of(r).values[i]);
                QVERIFY(!dialog.fieldEdit(f)->isEnabled() && !dialog.fieldLabel(f)->isEnabled());
            }
            QVERIFY(dialog.daysLabel()->isEnabled());
            checkAccessibility(&dialog);
            dialog.enabledBox()->click();
            QVERIFY(dialog.fieldEdit(PolicyField::ExpiryDays)->isEnabled());
            QVERIFY(dialog.fieldLabel(PolicyField::MinLength)->isEnabled());
        }
    }

    void policyDialogSaves()
    {
        Rig rig(false);
        PinPolicyRecord stored = openPolicy();
        stored.pinDigest = pin_digest(kPin.toStdString());
        stored.pinSetTime = 1700000000;
        storePolicy(rig.key, stored);
        std::vector<std::string> fileLog, expectedLog;
        CPinPolicyDlg dialog(rig.device, nullptr,
                             [&](std::string_view line) { fileLog.emplace_back(line); });
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        PaintSpy spy(dialog.messageLabel());
        const char* typed[kPolicyFieldCount] = {"255", "1", "2", "3", "4", "5", "6", "65535"};
        for (std::size_t i = 0; i < kPolicyFieldCount; ++i)
            dialog.fieldEdit(static_cast<PolicyField>(i))->setText(typed[i]);

        for (const auto& [status, error] : {std::pair{VN_ERR_TOUCH_TIMEOUT, "Token timed out"},
                                            {VN_ERR_STORAGE, "Failed to write PIN policy."}}) {
            rig.device.failNext(DeviceCall::OtpPersonalize, status);
            dialog.okButton()->click();
            const std::string message = std::string("Failed to write PIN policy. Error: ") + error;
            QVERIFY(dialog.isVisible());
            QCOMPARE(dialog.messageLabel()->text().toStdString(), message);
            expectedLog.insert(expectedLog.end(), {"[OnSaveCmd]", "[OnSaveCmd] " + message});
        }
        QCOMPARE(read_pin_policy_or_zero(rig.key), stored);

        dialog.okButton()->click(); // OK again repeats the whole save
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        expectedLog.push_back("[OnSaveCmd]");
        QCOMPARE(fileLog, expectedLog);
        QVERIFY(spy.painted.contains(QStringLiteral("Touch the Key...")));
        PinPolicyRecord expected = stored; // the PIN state is carried over
        expected.minLength = 255;
        std::tie(expected.minNumeric, expected.minLowercase, expected.minUppercase,
                 expected.minSpecial, expected.maxSequential, expected.maxRepeating) =
            std::tuple{1, 2, 3, 4, 5, 6};
        expected.expiryDays = 65535;
        QCOMPARE(read_pin_policy_or_zero(rig.key), expected);
    }

    void policyDialogRefusesWhatItCannotSave_data()
    {
        QTest::addColumn<int>("field");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("message");
        const QString rules = QStringLiteral("Please enter a whole number from 0 to 255 for ");
        QTest::newRow("empty") << int(PolicyField::MinLength) << ""
                               << rules + "the minimum PIN length.";
        QTest::newRow("300") << int(PolicyField::MaxRepeating) << "300"
                             << rules + "the maximum number of repeating letters.";
        QTest::newRow("not a number") << int(PolicyField::MinUppercase) << "3a"
                                      << rules + "the minimum number of uppercase letters.";
        QTest::newRow("65537 days") << int(PolicyField::ExpiryDays) << "65537"
                                    << "Please enter a whole number from 0 to 65535 for the days "
                                       "after which a newly set PIN expires.";
    }
    void policyDialogRefusesWhatItCannotSave()
    {
        QFETCH(int, field);
        QFETCH(QString, text);
        QFETCH(QString, message);
        Rig rig;
        std::vector<std::string> fileLog;
        CPinPolicyDlg dialog(rig.device, nullptr,
                             [&](std::string_view line) { fileLog.emplace_back(line); });
        dialog.show();
        dialog.enabledBox()->click();
        // A later field is wrong too: the first one in reading order is named.
        dialog.fieldEdit(PolicyField::ExpiryDays)->setText(QStringLiteral("99999"));
        QLineEdit* bad = dialog.fieldEdit(static_cast<PolicyField>(field));
        bad->setText(text);
        rig.device.clearCalls();
        dialog.okButton()->click();
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.messageLabel()->text(), message);
        QCOMPARE(dialog.focusWidget(), bad);
        QCOMPARE(rig.device.count(DeviceCall::OtpPersonalize), 0);
        QCOMPARE(fileLog, std::vector<std::string>{"[OnSaveCmd]"});
    }
};

QTEST_MAIN(PinDialogsTest)
#include "PinDialogsTest.moc"
