// The main window on the offscreen platform against the in-process virtual key:
// its controls, discovery and the token list as the user sees them, the
// Messages panel, the status line, and hot-plug through the key directory.

#include <algorithm>
#include "support/ForwardingDevice.h"
#include "app/CMainDlg.h"
#include "device/KeyDirWatcher.h"
#include "support/ScriptedDevice.h"
#include "support/VirtualKeyDevice.h"

#include <QAccessible>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include <cstring>

namespace {

const QString kNotFound = "Vornik/Tessel device not found.\r\nYou may need to run this tool as "
                          "administrator (error= 0x80564E02)\r\n";
const QString kFound = "Found a Vornik/Tessel device.\r\n";
const QString kListed = "List tokens succeeded!\r\n";
const QString kMode0 = "The device is in PIN protection mode 0.\r\n";
const QString kMode1 = "The device is in PIN protection mode 1.\r\n";
const QString kNoToken = "No OTP token in the device!\r\n";
const QString kAdmin = "You must run this tool as administrator!";

const int kKeyButtons[] = {ControlId::NewToken, ControlId::SetEnter, ControlId::Refresh,
                           ControlId::GetOtp,   ControlId::Remove,   ControlId::Reset,
                           ControlId::PinPolicy};

std::unique_ptr<CMainDlg> openWindow(DeviceApi& device, CMainDlg::Options options = {})
{
    if (!options.keyDir)
        options.keyDir = QString(); // no hot-plug unless a test asks for it
    auto window = std::make_unique<CMainDlg>(device, std::move(options));
    if (!window->Create())
        qFatal("the main window could not be created");
    return window;
}

CMainDlg::Options withHotPlug(const QString& keyDir, ArrivalWait wait)
{
    CMainDlg::Options options;
    options.keyDir = keyDir;
    options.arrivalWait = std::move(wait);
    return options;
}

OtpTokenRecord token(const char* serial, uint32_t type, uint32_t hash, uint32_t digits,
                     uint32_t interval)
{
    OtpTokenRecord r{};
    r.slot = VN_SLOT_ALL;
    r.type = type;
    r.hash = hash;
    r.digits = digits;
    r.interval = interval;
    std::strncpy(r.serial, serial, sizeof r.serial - 1);
    return r;
}

void programToken(DeviceApi& key, const char* serial, uint32_t type = VN_TYPE_TOTP)
{
    OtpTokenRecord r = token(serial, type, VN_HASH_SHA1, 6, 30);
    r.seedLength = 20;
    std::memset(r.seed, 0x5A, 20);
    if (key.OtpPersonalize(r, nullptr, 0, 1) != VN_OK)
        qFatal("the virtual key refused token %s", serial);
}

// Answers the token listing with canned records, for values no real key holds.
class CannedListDevice final : public ForwardingDevice
{
public:
    CannedListDevice(DeviceApi& inner, std::vector<OtpTokenRecord> records)
        : ForwardingDevice(inner), m_records(std::move(records))
    {
    }
    uint32_t OtpList(uint32_t slot, OtpTokenRecord* records) override
    {
        if (slot != VN_SLOT_ALL)
            return m_inner.OtpList(slot, records);
        std::copy(m_records.begin(), m_records.end(), records);
        return VN_OK;
    }

private:
    std::vector<OtpTokenRecord> m_records;
};

// Notes the cursor shape at every call, and can run something before the
// first ListDevice (as the library does when it creates a first key).
class CursorWatchDevice final : public ForwardingDevice
{
public:
    using ForwardingDevice::ForwardingDevice;
    uint32_t ListDevice(uint32_t* reserved, uint32_t flags) override
    {
        note();
        if (beforeList) {
            beforeList();
            beforeList = nullptr;
        }
        return m_inner.ListDevice(reserved, flags);
    }
    uint32_t OtpList(uint32_t slot, OtpTokenRecord* records) override
    {
        note();
        return m_inner.OtpList(slot, records);
    }
    void note()
    {
        const QCursor* cursor = QGuiApplication::overrideCursor();
        busyAtCall.push_back(cursor != nullptr && cursor->shape() == Qt::WaitCursor);
    }
    std::vector<bool> busyAtCall;
    std::function<void()> beforeList;
};

QStringList row(const CMainDlg& window, int r)
{
    QStringList cells;
    for (int c = 0; c < 5; ++c)
        cells << window.tokenCell(r, c);
    return cells;
}

} // namespace

class MainWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void initialStateOfEveryControl()
    {
        VirtualKeyDevice key;
        key.unplug("VK1000001");
        auto window = openWindow(key);

        QCOMPARE(window->windowTitle(), QString("Vornik/Tessel OTP Programming Tool G2"));
        QCOMPARE(window->minimumSize(), window->maximumSize()); // not resizable
        QVERIFY(!window->isModal() && window->parentWidget() == nullptr);

        struct Button
        {
            int id;
            const char* caption;
            const char* accessibleName;
            bool enabled;
        };
        const Button buttons[] = {
            {ControlId::NewToken, "New Token", "New Token", false},
            {ControlId::SetEnter, "Set ENTER", "Set ENTER", false},
            {ControlId::GetOtp, "Get OTP", "Get OTP", false},
            {ControlId::Remove, "Remove", "Remove", false},
            {ControlId::Refresh, "Refresh", "Refresh", false},
            {ControlId::Reset, "Reset", "Reset", false},
            {ControlId::PinPolicy, "PIN Policy", "PIN Policy", false},
            {ControlId::UpdatePin, "Update PIN", "Update PIN", false},
            {ControlId::Clear, "Clear", "Clear", true},
            {ControlId::About, "&About", "About", true},
        };
        for (const Button& b : buttons) {
            auto* button = qobject_cast<QPushButton*>(window->control(b.id));
            QVERIFY2(button != nullptr, b.caption);
            QCOMPARE(button->text(), QString(b.caption));
            QCOMPARE(button->accessibleName(), QString(b.accessibleName));
            QCOMPARE(button->isEnabled(), b.enabled);
            QVERIFY2(!button->isDefault() && !button->autoDefault(), b.caption);
        }

        auto* list = qobject_cast<QTreeWidget*>(window->control(ControlId::TokenList));
        QVERIFY(list != nullptr);
        QCOMPARE(list->accessibleName(), QString("Tokens"));
        QCOMPARE(list->columnCount(), 5);
        const QStringList titles = {"Serial Number", "OTP", "Hash", "Digits", "Interval"};
        const int widths[] = {180, 60, 60, 60, 60};
        for (int c = 0; c < 5; ++c) {
            QCOMPARE(list->headerItem()->text(c), titles[c]);
            QCOMPARE(list->columnWidth(c), widths[c]);
        }
        QCOMPARE(list->selectionMode(), QAbstractItemView::SingleSelection);
        QCOMPARE(list->selectionBehavior(), QAbstractItemView::SelectRows);
        QVERIFY(!list->isSortingEnabled());

        auto* messages = qobject_cast<QPlainTextEdit*>(window->control(ControlId::Messages));
        QVERIFY(messages != nullptr);
        QCOMPARE(messages->accessibleName(), QString("Messages"));
        QVERIFY(messages->isReadOnly());
        QCOMPARE(messages->lineWrapMode(), QPlainTextEdit::NoWrap);
        QVERIFY(messages->tabChangesFocus());
        QCOMPARE(window->messagesText(), kNotFound + "Failed to list tokens (error = 0x80564E02)"
                                                     "\r\nYou must run this tool as "
                                                     "administrator!\r\n");

        auto* status = qobject_cast<QLabel*>(window->control(ControlId::StatusLine));
        QVERIFY(status != nullptr);
        QCOMPARE(status->text(), QString()); // the refresh's note is cleared at the end
        QCOMPARE(status->accessibleDescription(), QString("Status"));
        QCOMPARE(status->palette().color(QPalette::WindowText), QColor(255, 0, 0));
        for (auto* label : window->findChildren<QLabel*>()) {
            if (label != status)
                QVERIFY(label->palette().color(QPalette::WindowText) != QColor(255, 0, 0));
        }
        QCOMPARE(messages->palette(), QApplication::palette(messages));

        QCOMPARE(window->focusWidget(), window->control(ControlId::About));
    }

    void tabWalksTheTemplateOrderAndLeavesTheMessages()
    {
        VirtualKeyDevice key;
        auto window = openWindow(key); // a key: every tab stop but Update PIN is enabled
        window->show();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));

        const int expected[] = {ControlId::About,     ControlId::Messages,  ControlId::Refresh,
                                ControlId::TokenList, ControlId::Remove,    ControlId::Clear,
                                ControlId::Reset,     ControlId::GetOtp,    ControlId::NewToken,
                                ControlId::SetEnter,  ControlId::PinPolicy, ControlId::About};
        QCOMPARE(QApplication::focusWidget(), window->control(expected[0]));
        for (std::size_t i = 1; i < std::size(expected); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), window->control(expected[i]));
        }
        QVERIFY(!window->messagesText().contains('\t'));
    }

    void keyFoundWithoutTokens_data()
    {
        QTest::addColumn<bool>("hardwareMode");
        QTest::addColumn<QString>("line");
        QTest::newRow("access-code function") << true << kMode0;
        QTest::newRow("no access-code function") << false << kMode1;
    }

    void keyFoundWithoutTokens()
    {
        QFETCH(bool, hardwareMode);
        QFETCH(QString, line);
        VirtualKeyDevice key("VK7000001", hardwareMode);
        auto window = openWindow(key);

        QCOMPARE(window->messagesText(), kFound + kListed + line + kNoToken);
        QCOMPARE(window->keySerialNumber, std::string("VK7000001"));
        for (const int id : kKeyButtons)
            QVERIFY(window->isControlEnabled(id));
        QVERIFY(!window->isControlEnabled(ControlId::UpdatePin)); // follows the PIN policy
    }

    void twentyTokensFillTwentyRowsInKeyOrder()
    {
        VirtualKeyDevice key;
        std::vector<std::string> serials;
        for (int i = 0; i < VN_MAX_TOKENS; ++i) {
            serials.push_back(QString::asprintf("VK10000%02d", 20 - i).toStdString());
            programToken(key, serials.back().c_str(), i % 2 ? VN_TYPE_HOTP : VN_TYPE_TOTP);
        }
        auto window = openWindow(key);

        QCOMPARE(window->tokenRowCount(), 20);
        QCOMPARE(window->listedSerials, serials);
        for (int r = 0; r < 20; ++r)
            QCOMPARE(row(*window, r), (QStringList{QString::fromStdString(serials[r]),
                                                   r % 2 ? "HOTP" : "TOTP", "SHA-1", "6", "30"}));
    }

    void cellTextsAndTheEmptySerialThatEndsTheList()
    {
        VirtualKeyDevice key;
        CannedListDevice device(key,
                                {
                                    token("H30", VN_TYPE_HOTP, VN_HASH_SHA1, 6, 30),
                                    token("T60", VN_TYPE_TOTP, VN_HASH_SHA256, 8, 60),
                                    token("SP", VN_TYPE_STATIC_PASSWORD, VN_HASH_SHA1, 8, 30),
                                    token("CR", VN_TYPE_CHALLENGE_RESPONSE, VN_HASH_SHA256, 6, 60),
                                    token("ODD", 0x50, 3, 7, 45),
                                    token("ZERO", 0, 0, 0, 0),
                                    token("", VN_TYPE_TOTP, VN_HASH_SHA1, 6, 30),
                                    token("AFTER", VN_TYPE_TOTP, VN_HASH_SHA1, 6, 30),
                                });
        auto window = openWindow(device);

        const std::vector<QStringList> expected = {
            {"H30", "HOTP", "SHA-1", "6", "30"},
            {"T60", "TOTP", "SHA-256", "8", "60"},
            {"SP", "STATIC_PASSWORD", "SHA-1", "8", "30"},
            {"CR", "CHALLENGE_RESPONSE", "SHA-256", "6", "60"},
            {"ODD", "N/A", "N/A", "N/A", "N/A"},
            {"ZERO", "N/A", "N/A", "N/A", "N/A"},
        };
        QCOMPARE(window->tokenRowCount(), int(expected.size()));
        for (int r = 0; r < int(expected.size()); ++r)
            QCOMPARE(row(*window, r), expected[r]);
        QCOMPARE(window->listedSerials,
                 (std::vector<std::string>{"H30", "T60", "SP", "CR", "ODD", "ZERO"}));
        QCOMPARE(window->messagesText(), kFound + kListed + kMode0);
    }

    void listFailureAsksForAdministrator()
    {
        VirtualKeyDevice key;
        programToken(key, "T1");
        ScriptedDevice device(key);
        auto window = openWindow(device);
        QCOMPARE(window->tokenRowCount(), 1);

        device.failNext(DeviceCall::OtpList, VN_ERR_STORAGE);
        QTest::mouseClick(window->control(ControlId::Refresh), Qt::LeftButton);

        QVERIFY(window->messagesText().endsWith(
            kMode0 + "Failed to list tokens (error = 0x80564E20)\r\n" + kAdmin + "\r\n"));
        QCOMPARE(window->statusText(), kAdmin);
        QCOMPARE(window->tokenRowCount(), 0);
        QVERIFY(window->listedSerials.empty());
        QVERIFY(window->isControlEnabled(ControlId::Refresh));
    }

    void refreshListsAgainWithoutDiscoveryAndOnlyOnAClick()
    {
        VirtualKeyDevice key;
        ScriptedDevice device(key);
        auto window = openWindow(device);
        programToken(key, "T1");
        device.clearCalls();

        window->OnCommand(ControlId::Refresh, 1); // not a click: no route
        QCOMPARE(device.count(DeviceCall::OtpList), 0);

        window->OnCommand(ControlId::Refresh, CMainDlg::kClicked);
        QCOMPARE(device.count(DeviceCall::OtpList), 1);
        QCOMPARE(device.count(DeviceCall::ListDevice), 0);
        QCOMPARE(window->tokenRowCount(), 1);
        QVERIFY(window->messagesText().endsWith(kNoToken + kListed + kMode0));
    }

    void deviceCallsShowTheBusyCursor()
    {
        VirtualKeyDevice key;
        CursorWatchDevice device(key);
        auto window = openWindow(device);
        QVERIFY(!device.busyAtCall.empty());
        QVERIFY(std::ranges::all_of(device.busyAtCall, [](bool busy) { return busy; }));
        device.busyAtCall.clear();
        window->OnBnClickedRefresh();
        QCOMPARE(device.busyAtCall, (std::vector<bool>{true}));
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
    }

    void clearEmptiesThePanel()
    {
        VirtualKeyDevice key;
        auto window = openWindow(key);
        QVERIFY(!window->messagesText().isEmpty());

        QTest::mouseClick(window->control(ControlId::Clear), Qt::LeftButton);
        QCOMPARE(window->messagesText(), QString());
        window->AppendMessage("next\r\n");
        QCOMPARE(window->messagesText(), QString("next\r\n"));
    }

    void appendLandsAtTheEndWhateverTheUserSelected()
    {
        VirtualKeyDevice key;
        auto window = openWindow(key);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        for (int i = 0; i < 60; ++i)
            window->AppendMessage(QString("line %1\r\n").arg(i));

        auto* messages = qobject_cast<QPlainTextEdit*>(window->control(ControlId::Messages));
        QTextCursor selection(messages->document());
        selection.setPosition(2);
        selection.setPosition(12, QTextCursor::KeepAnchor);
        messages->setTextCursor(selection);
        messages->verticalScrollBar()->setValue(0);

        window->AppendMessage("two\r\nlines\r\n");

        QVERIFY(window->messagesText().endsWith("line 59\r\ntwo\r\nlines\r\n"));
        QVERIFY(window->messagesText().startsWith(kFound));
        QVERIFY(!messages->textCursor().hasSelection());
        QCOMPARE(messages->textCursor().position(), messages->document()->characterCount() - 1);
        QVERIFY(messages->viewport()->rect().contains(messages->cursorRect())); // scrolled there
    }

    void statusTextIsPaintedBeforeTheCallReturns()
    {
        VirtualKeyDevice key;
        auto window = openWindow(key);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QCoreApplication::processEvents();

        struct PaintCounter : QObject
        {
            int paints = 0;
            bool eventFilter(QObject*, QEvent* e) override
            {
                paints += e->type() == QEvent::Paint;
                return false;
            }
        } counter;
        QWidget* status = window->control(ControlId::StatusLine);
        status->installEventFilter(&counter);

        window->SetStatusText("Please touch the key...");
        QVERIFY(counter.paints > 0); // painted without returning to the event loop
        QCOMPARE(window->statusText(), QString("Please touch the key..."));
        QCOMPARE(status->accessibleName(), QString("Please touch the key..."));
    }

    void hotPlugEmptiesAndRefillsTheList()
    {
        VirtualKeyDevice key;
        programToken(key, "T1");
        std::vector<std::chrono::milliseconds> waits;
        auto window = openWindow(
            key, withHotPlug(QString::fromStdString(key.keyDir()),
                             [&waits](std::chrono::milliseconds d) { waits.push_back(d); }));
        QVERIFY(window->deviceNotification() != nullptr);
        QCOMPARE(window->tokenRowCount(), 1);
        const QString atStart = window->messagesText();

        key.unplug("VK1000001");
        QTRY_COMPARE(window->tokenRowCount(), 0);
        QCOMPARE(window->messagesText(), atStart);
        for (const int id : kKeyButtons)
            QVERIFY(window->isControlEnabled(id));

        key.plug("VK1000001");
        QTRY_COMPARE(window->tokenRowCount(), 1);
        QCOMPARE(waits, std::vector<std::chrono::milliseconds>{std::chrono::milliseconds(2000)});
        QCOMPARE(window->messagesText(), atStart + kFound + kListed + kMode0);

        key.addKey("VK1000002");
        QTRY_VERIFY(window->messagesText().endsWith(
            "Multiple Vornik/Tessel devices found (Error= 0x80564E03)\r\n"
            "Failed to list tokens (error = 0x80564E03)\r\n" +
            kAdmin + "\r\n"));
        for (const int id : kKeyButtons)
            QVERIFY(window->isControlEnabled(id));
    }

    void keyCreatedByTheFirstDiscoveryIsNoPlugIn()
    {
        // On a first start the library creates the key directory with a plugged
        // key while discovery runs; that must not count as a plug-in later.
        VirtualKeyDevice key;
        QTemporaryDir base;
        const QString keyDir = base.path() + "/keys";
        CursorWatchDevice device(key);
        device.beforeList = [&] {
            QDir().mkpath(keyDir + "/plugged");
            QFile marker(keyDir + "/plugged/VK1000001");
            QVERIFY(marker.open(QIODevice::WriteOnly));
        };
        int waits = 0;
        auto window = openWindow(device, withHotPlug(keyDir, [&waits](auto) { ++waits; }));
        const QString atStart = window->messagesText();

        QTest::qWait(300);
        QCOMPARE(waits, 0);
        QCOMPARE(window->messagesText(), atStart);
    }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
