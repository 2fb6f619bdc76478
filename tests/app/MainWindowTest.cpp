// The main window on the offscreen platform over the in-process virtual key.

#include "app/CAboutDlg.h"
#include "app/CMainDlg.h"
#include "pin/CPinPolicyDlg.h"
#include "pin/PinDlg.h"
#include "pin/UpdatePinDlg.h"
#include "programming/CNewTokenDlg.h"
#include "support/ScriptedDevice.h"
#include "support/VirtualKeyDevice.h"
#include "tokens/CSetEnterDlg.h"

#include <QAccessible>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

const QString kFound = "Found a Vornik/Tessel device.\r\n";
const QString kListed = "List tokens succeeded!\r\n";
const QString kMode0 = "The device is in PIN protection mode 0.\r\n";
const QString kAdmin = "You must run this tool as administrator!";

std::unique_ptr<CMainDlg> openWindow(DeviceApi& device, QString keyDir = {},
                                     ArrivalWait wait = sleepOnThisThread)
{
    auto window = std::make_unique<CMainDlg>(device, CMainDlg::Options{nullptr, keyDir, wait});
    if (!window->Create())
        qFatal("the main window could not be created");
    return window;
}

OtpTokenRecord token(const char* serial, uint32_t type, uint32_t hash = VN_HASH_SHA1,
                     uint32_t digits = 6, uint32_t interval = 30)
{
    OtpTokenRecord r{VN_SLOT_ALL, type, hash, digits, interval, {}, {}, 0};
    std::strncpy(r.serial, serial, sizeof r.serial - 1);
    return r;
}

void programToken(DeviceApi& key, const char* serial, uint32_t type = VN_TYPE_TOTP)
{
    OtpTokenRecord r = token(serial, type);
    r.seedLength = 20;
    if (key.OtpPersonalize(r, nullptr, 0, 1) != VN_OK)
        qFatal("the virtual key refused token %s", serial);
}

// What a screen reader announces for every control the keyboard can reach.
QStringList unnamedControls(QWidget* window)
{
    QStringList unnamed;
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (!(w->focusPolicy() & Qt::TabFocus) || w->isHidden())
            continue;
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
        if (!a || a->text(QAccessible::Name).trimmed().isEmpty())
            unnamed << QString::fromLatin1(w->metaObject()->className()) + " " + w->objectName();
    }
    return unnamed;
}

// Which push buttons a Return pressed on `target` clicks.
QStringList clickedByEnter(QWidget* dialog, QWidget* target)
{
    QStringList clicked;
    QObject spy;
    for (QPushButton* b : dialog->findChildren<QPushButton*>())
        QObject::connect(b, &QPushButton::clicked, &spy,
                         [&clicked, b] { clicked << b->objectName(); });
    dialog->show();
    target->setFocus();
    QTest::keyClick(target, Qt::Key_Return);
    return clicked;
}

QList<QStringList> rows(const CMainDlg& window)
{
    QList<QStringList> rows(window.tokenRowCount());
    for (int r = 0; r < rows.size(); ++r)
        for (int c = 0; c < 5; ++c)
            rows[r] << window.tokenCell(r, c);
    return rows;
}

} // namespace

class MainWindowTest : public QObject
{
    Q_OBJECT

private slots:
    // Enter presses the focused button, anywhere else the default one (New
    // Token, which has none, keeps its own rule for that).
    void everyControlHasAnAccessibleNameAndEnterPressesTheFocusedButton()
    {
        VirtualKeyDevice key;
        QTemporaryDir seeds;
        auto window = openWindow(key);
        CAboutDlg about(window.get());
        CSetEnterDlg setEnter(window.get());
        PinDlg pin(window.get());
        UpdatePinDlg updatePin(key, window.get());
        CPinPolicyDlg policy(key, window.get(), [](std::string_view) {});
        CNewTokenDlg newToken(key, "", "VK100000101", window.get(), seeds.path());
        for (QWidget* w : std::initializer_list<QWidget*>{window.get(), &about, &setEnter, &pin,
                                                          &updatePin, &policy, &newToken}) {
            w->show();
            QCOMPARE(unnamedControls(w), QStringList());
        }
        const std::tuple<QWidget*, const char*, QString> enterCases[] = {
            {&setEnter, "appendEnterCheck", "saveButton"},
            {&updatePin, "newPinEdit", "okButton"},
            {&policy, "enabledBox", "okButton"},
            {&newToken, nullptr, {}},
        };
        for (const auto& [dialog, other, defaultButton] : enterCases) {
            QCOMPARE(clickedByEnter(dialog, dialog->findChild<QPushButton*>("cancelButton")),
                     QStringList{"cancelButton"});
            if (other != nullptr)
                QCOMPARE(clickedByEnter(dialog, dialog->findChild<QWidget*>(other)),
                         QStringList{defaultButton});
        }
    }

    void initialStateWithoutAKey()
    {
        VirtualKeyDevice key;
        key.unplug("VK1000001");
        auto window = openWindow(key);
        // Only Clear and About work without a key; no button is a default one,
        // or Enter in the token list would press it.
        for (int id :
             {ControlId::NewToken, ControlId::SetEnter, ControlId::GetOtp, ControlId::Remove,
              ControlId::Refresh, ControlId::Reset, ControlId::PinPolicy, ControlId::UpdatePin,
              ControlId::Clear, ControlId::About}) {
            auto* button = qobject_cast<QPushButton*>(window->control(id));
            QVERIFY(button && !button->isDefault() && !button->autoDefault());
            QCOMPARE(button->isEnabled(), id == ControlId::Clear || id == ControlId::About);
        }
        QCOMPARE(
            window->messagesText(),
            "Vornik/Tessel device not found.\r\nYou may need to run this tool as administrator "
            "(error= 0x80564E02)\r\nFailed to list tokens (error = 0x80564E02)\r\n" +
                kAdmin + "\r\n");
        QCOMPARE(window->statusText(), QString()); // the failed listing's note is cleared
    }

    void twentyTokensThenCellTextsThenAFailedListing()
    {
        VirtualKeyDevice key("VK1000001", false); // without the access-code function: mode 1
        std::vector<std::string> serials;
        QList<QStringList> twenty;
        for (int i = 0; i < VN_MAX_TOKENS; ++i) { // descending, so any sorting shows
            serials.push_back(QString::asprintf("VK10000%02d", 20 - i).toStdString());
            programToken(key, serials.back().c_str(), i % 2 ? VN_TYPE_HOTP : VN_TYPE_TOTP);
            twenty << QStringList{QString::fromStdString(serials.back()), i % 2 ? "HOTP" : "TOTP",
                                  "SHA-1", "6", "30"};
        }
        ScriptedDevice device(key);
        auto window = openWindow(device);
        QCOMPARE(rows(*window), twenty);
        QCOMPARE(window->listedSerials, serials);

        device.cannedListing = {
            token("H30", VN_TYPE_HOTP),
            token("T60", VN_TYPE_TOTP, VN_HASH_SHA256, 8, 60),
            token("SP", VN_TYPE_STATIC_PASSWORD, VN_HASH_SHA1, 8, 30),
            token("CR", VN_TYPE_CHALLENGE_RESPONSE, VN_HASH_SHA256, 6, 60),
            token("ODD", 0x50, 3, 7, 45),
            token("", VN_TYPE_TOTP), // ends the list
            token("AFTER", VN_TYPE_TOTP),
        };
        QTest::mouseClick(window->control(ControlId::Refresh), Qt::LeftButton);
        const QList<QStringList> cells = {
            {"H30", "HOTP", "SHA-1", "6", "30"},
            {"T60", "TOTP", "SHA-256", "8", "60"},
            {"SP", "STATIC_PASSWORD", "SHA-1", "8", "30"},
            {"CR", "CHALLENGE_RESPONSE", "SHA-256", "6", "60"},
            {"ODD", "N/A", "N/A", "N/A", "N/A"},
        };
        QCOMPARE(rows(*window), cells);
        QCOMPARE(window->listedSerials,
                 (std::vector<std::string>{"H30", "T60", "SP", "CR", "ODD"}));

        device.failNext(DeviceCall::OtpList, VN_ERR_STORAGE);
        QTest::mouseClick(window->control(ControlId::Refresh), Qt::LeftButton);
        const QString listed = kListed + "The device is in PIN protection mode 1.\r\n";
        QCOMPARE(window->messagesText(), kFound + listed + listed +
                                             "Failed to list tokens (error = 0x80564E20)\r\n" +
                                             kAdmin + "\r\n");
        QCOMPARE(window->statusText(), kAdmin);
        QCOMPARE(window->tokenRowCount(), 0);
        QVERIFY(window->listedSerials.empty());
    }

    void appendLandsAtTheEndDespiteASelectionAndClearEmpties()
    {
        VirtualKeyDevice key;
        auto window = openWindow(key);
        QCOMPARE(window->messagesText(),
                 kFound + kListed + kMode0 + "No OTP token in the device!\r\n");
        auto* messages = qobject_cast<QPlainTextEdit*>(window->control(ControlId::Messages));
        messages->moveCursor(QTextCursor::Start); // the user selects the first line
        messages->moveCursor(QTextCursor::Down, QTextCursor::KeepAnchor);
        window->AppendMessage("two\r\nlines\r\n");
        QVERIFY(window->messagesText().startsWith(kFound));
        QVERIFY(window->messagesText().endsWith("token in the device!\r\ntwo\r\nlines\r\n"));
        QCOMPARE(messages->textCursor().position(), messages->document()->characterCount() - 1);

        QTest::mouseClick(window->control(ControlId::Clear), Qt::LeftButton);
        QCOMPARE(window->messagesText(), QString());
    }

    // The list widget itself moves the selection to a neighbour of a removed
    // row (the predecessor of the last one); the next command must not act on it.
    void removeLeavesNoTokenSelected()
    {
        VirtualKeyDevice key;
        for (const char* serial : {"T1", "T2", "T3"})
            programToken(key, serial);
        auto window = openWindow(key);
        auto* list = qobject_cast<QTreeWidget*>(window->control(ControlId::TokenList));
        for (int row : {1, 1}) { // the middle row, then the last one
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                              list->visualItemRect(list->topLevelItem(row)).center());
            QCOMPARE(window->selectedTokenRow(), row);
            QTest::mouseClick(window->control(ControlId::Remove), Qt::LeftButton);
            QCOMPARE(window->selectedTokenRow(), -1);
        }
        QTest::mouseClick(window->control(ControlId::GetOtp), Qt::LeftButton);
        QTest::mouseClick(window->control(ControlId::Remove), Qt::LeftButton);
        QVERIFY(window->messagesText().endsWith("Token SN=T3 removed\r\nPlease select a token\r\n"
                                                "Please select a token first\r\n"));
        QCOMPARE(rows(*window), (QList<QStringList>{{"T1", "TOTP", "SHA-1", "6", "30"}}));
    }

    // Every plug and pull is reported, also one while discovery runs and a
    // pull and plug of the same key while the window waits.
    void hotPlugEmptiesAndRefillsTheList()
    {
        VirtualKeyDevice key;
        programToken(key, "T1");
        key.unplug("VK1000001");
        ScriptedDevice device(key);
        device.beforeCall = [&key, once = true](DeviceCall call) mutable {
            if (call == DeviceCall::ListDevice && std::exchange(once, false))
                key.plug("VK1000001");
        };
        std::vector<std::chrono::milliseconds> waits;
        std::function<void()> duringWait;
        auto window = openWindow(device, QString::fromStdString(key.keyDir()),
                                 [&](std::chrono::milliseconds d) {
                                     waits.push_back(d);
                                     if (auto run = std::exchange(duringWait, nullptr))
                                         run();
                                 });
        QCOMPARE(window->tokenRowCount(), 1);
        const QString found = kFound + kListed + kMode0;
        const QString atStart = window->messagesText();
        QTRY_COMPARE(window->messagesText(), atStart + found);

        key.unplug("VK1000001");
        QTRY_COMPARE(window->tokenRowCount(), 0);
        duringWait = [&key] {
            key.unplug("VK1000001");
            key.plug("VK1000001");
        };
        key.plug("VK1000001");
        QTRY_COMPARE(window->messagesText(), atStart + found + found + found);
        QCOMPARE(window->tokenRowCount(), 1);
        QCOMPARE(waits, std::vector(3, std::chrono::milliseconds(2000)));
    }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
