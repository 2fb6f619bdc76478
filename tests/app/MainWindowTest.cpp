// The main window on the offscreen platform: its list and panels over the
// in-process virtual key, Enter and Escape on the real widgets, start-up and
// exit codes, hot-plug, the PIN dialogs, and the PIN buttons through the
// linked library.

#include "app/CAboutDlg.h"
#include "app/CMainDlg.h"
#include "app/CommandLine.h"
#include "app/PskcPasswordDlg.h"
#include "app/SeedRecordsDlg.h"
#include "app/Startup.h"
#include "diag/FileLog.h"
#include "pin/CPinPolicyDlg.h"
#include "pin/PinAccess.h"
#include "pin/PinDlg.h"
#include "pin/PinTestSupport.h"
#include "pin/UpdatePinDlg.h"
#include "programming/CNewTokenDlg.h"
#include "records/Recorder.h"
#include "records/SeedFolder.h"
#include "support/ModalDriver.h"
#include "support/OtpReference.h"
#include "support/VirtualKeyDevice.h"
#include "tokens/CSetEnterDlg.h"

#include "KeyState.h"

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTreeWidget>
#include <QtTest>

#include <chrono>
#include <thread>

using namespace otp;
using namespace otp::core;
using namespace otp::diag;
using namespace otp::device;
using namespace otp::pskc;
using namespace otp::records;
using namespace otp::ui;
using namespace otp::pin;
using namespace otp::tokens;
using namespace otp::programming;
using namespace otp::app;

namespace {

const QString kFound = "Found a Vornik/Tessel device.\r\n";
const QString kListed = "List tokens succeeded!\r\n";
const QString kMode0 = "The device is in PIN protection mode 0.\r\n";
const QString kAdmin = "You must run this tool as administrator!";

// No hot-plug unless a key folder is given.
std::unique_ptr<CMainDlg> openWindow(DeviceApi& device, const QString& keyDir = {},
                                     ArrivalWait wait = sleepOnThisThread)
{
    auto window = std::make_unique<CMainDlg>(device, CMainDlg::Options{keyDir, std::move(wait)});
    if (!window->Create())
        qFatal("the main window could not be created");
    return window;
}

void programToken(DeviceApi& key, const std::string& serial, uint32_t type = VN_TYPE_TOTP)
{
    if (key.OtpPersonalize(tokenRecord(serial, type, kRfcSeedSha1), nullptr, 0, 1) != VN_OK)
        qFatal("the virtual key refused token %s", serial.c_str());
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

// Runs the program on a main window (none when control is -1), then closes it
// (control 0) or sends the keys to the control. A stuck run ends with 99.
int runProgram(int control, const QList<int>& keys)
{
    VirtualKeyDevice key;
    QObject guard;
    QTimer::singleShot(10000, &guard, [] { QCoreApplication::exit(99); });
    return Run([&]() -> std::unique_ptr<QWidget> {
        if (control < 0)
            return nullptr;
        auto window = openWindow(key);
        QTimer::singleShot(0, window.get(), [w = window.get(), control, keys] {
            if (control == 0)
                w->close();
            for (const int k : keys)
                QTest::keyClick(w->control(control), Qt::Key(k));
        });
        return window;
    });
}

QString readAll(FILE* file)
{
    std::rewind(file);
    QFile in;
    in.open(file, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
    return QString::fromLocal8Bit(in.readAll());
}

} // namespace

class MainWindowTest : public QObject
{
    Q_OBJECT

private slots:
    // Enter presses a focused button, in an edit or check box the default one;
    // New Token has none: there Enter closes the dialog without saving.
    void everyControlIsNamedAndEnterPressesTheFocusedButtonElseTheDefault()
    {
        VirtualKeyDevice key;
        auto window = openWindow(key);
        CAboutDlg about(window.get());
        CSetEnterDlg setEnter(window.get());
        PinDlg pin(window.get());
        UpdatePinDlg updatePin(key, window.get());
        CPinPolicyDlg policy(key, window.get(), [](std::string_view) {});
        CNewTokenDlg newToken(key, "VK1000001", "", "VK100000101", {}, window.get());
        SeedRecordsDlg records(SeedRecordsChoice{}, "/seeds", window.get());
        PskcPasswordDlg password("new.pskc", true, window.get());
        for (QWidget* w :
             std::initializer_list<QWidget*>{window.get(), &about, &setEnter, &pin, &updatePin,
                                             &policy, &newToken, &records, &password}) {
            w->show();
            QCOMPARE(unnamedControls(w), QStringList());
        }
        // The icon is read only once something draws it; drawn, it is the file's image.
        const auto argb = [](const QIcon& icon) {
            return icon.pixmap(128, 128).toImage().convertToFormat(
                QImage::Format_ARGB32_Premultiplied);
        };
        const QImage file =
            QImage(":/icon128.png").convertToFormat(QImage::Format_ARGB32_Premultiplied);
        QVERIFY(!file.isNull());
        for (QWidget* w : std::initializer_list<QWidget*>{window.get(), &about, &setEnter})
            QCOMPARE(argb(w->windowIcon()), file);
        // A Save pressed by mistake would program this seed.
        newToken.findChild<QLineEdit*>("seedEdit")
            ->setText("3132333435363738393031323334353637383930");
        const std::tuple<QDialog*, const char*, QStringList> enterCases[] = {
            {&setEnter, "appendEnterCheck", {"saveButton"}},
            {&updatePin, "newPinEdit", {"okButton"}},
            {&policy, "enabledBox", {"okButton"}},
            {&pin, "pinEdit", {"okButton"}},
            {&newToken, "serialEdit", {}},
            {&records, "oathUsersFileEdit", {}}, // OK, with no default button
            {&password, "passwordEdit", {}},
        };
        for (const auto& [dialog, other, pressed] : enterCases) {
            if (auto* cancel = dialog->findChild<QPushButton*>("cancelButton"))
                QCOMPARE(clickedByEnter(dialog, cancel), QStringList{"cancelButton"});
            QCOMPARE(clickedByEnter(dialog, dialog->findChild<QWidget*>(other)), pressed);
        }
        QVERIFY(!newToken.isVisible());
        QCOMPARE(newToken.result(), NewTokenId::Ok);
        QCOMPARE(key.storedSerials(), std::vector<std::string>{});
    }

    // Enter on a push button presses it, elsewhere it ends the program with 1;
    // Escape and the close box end it with 2.
    void exitCodes()
    {
        // control (0: the close box, -1: no window), keys, exit code, dialogs opened
        const std::tuple<int, QList<int>, int, QStringList> cases[] = {
            {ControlId::TokenList, {Qt::Key_Return}, 1, {}},
            {ControlId::Messages, {Qt::Key_Enter}, 1, {}},
            {ControlId::About, {Qt::Key_Return, Qt::Key_Escape}, 2, {"otp::app::CAboutDlg"}},
            {0, {}, 2, {}},
            {-1, {}, 0, {}},
        };
        for (const auto& [control, keys, exitCode, dialogs] : cases) {
            QStringList seen;
            ModalDriver driver(
                [&seen](QWidget* dialog) { seen << dialog->metaObject()->className(); });
            QCOMPARE(runProgram(control, keys), exitCode);
            QCOMPARE(seen, dialogs);
        }
    }

    // Answered before any window exists; -1: the window starts. Every help
    // names the seed folder this very process would write to.
    void commandLine()
    {
        const QString usage = "Usage: vnotp [options]\n";
        // arguments, exit code, start of standard output, start of standard error
        const std::tuple<QStringList, int, QString, QString> cases[] = {
            {{}, -1, "", ""},
            {{"-platform", "offscreen", "-style", "fusion", "-reverse"}, -1, "", ""},
            {{"--help"}, 0, usage, ""},
            {{"-h"}, 0, usage, ""},
            {{"--version"}, 0, "vnotp ", ""},
            {{"-v"}, 0, "vnotp ", ""},
            {{"--bogus"}, 2, "", "Unknown option 'bogus'.\n" + usage},
            {{"--help-all"}, 2, "", "Unknown option 'help-all'.\n" + usage},
            {{"-platform"}, 2, "", "Missing value after '-platform'.\n" + usage},
        };
        const QString folder =
            "\nSeed folder in use: " + QString::fromStdString(default_seed_folder().string()) +
            "\n";
        const QString log =
            "\nLog file in use: " + QString::fromStdString(file_log_path().string()) + "\n";
        for (const auto& [arguments, exitCode, out, err] : cases) {
            QByteArrayList storage{"vnotp"};
            std::vector<char*> argv;
            for (const QString& a : arguments)
                storage << a.toLocal8Bit();
            for (QByteArray& a : storage)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            int argc = int(storage.size());
            FILE* files[] = {std::tmpfile(), std::tmpfile()};
            const int answer =
                answer_command_line(argc, argv.data(), files[0], files[1]).value_or(-1);
            const QString outText = readAll(files[0]), errText = readAll(files[1]);
            QVERIFY2(answer == exitCode, qPrintable(arguments.join(' ')));
            QVERIFY2(outText.left(out.size()) == out && outText.isEmpty() == out.isEmpty(),
                     qPrintable(outText));
            QVERIFY2(errText.left(err.size()) == err && errText.isEmpty() == err.isEmpty(),
                     qPrintable(errText));
            for (const QString& named : {folder, log})
                QCOMPARE((outText + errText).contains(named),
                         (outText + errText).contains("Usage:"));
        }
        // The About box names them too, whole in its tooltip.
        CAboutDlg about(nullptr);
        QString tips;
        for (const QLabel* label : about.findChildren<QLabel*>())
            tips += label->toolTip();
        QCOMPARE(tips, QString::fromStdString(default_seed_folder().string() + "\n" +
                                              file_log_path().string()));
    }

    void withoutAKeyOnlyClearAboutAndSeedRecordsWork()
    {
        VirtualKeyDevice key;
        key.unplug("VK1000001");
        auto window = openWindow(key);
        QStringList enabled;
        for (QPushButton* button : window->findChildren<QPushButton*>())
            if (button->isEnabled())
                enabled << button->accessibleName();
        QCOMPARE(enabled, (QStringList{"About", "Clear", "Seed records..."}));
        QCOMPARE(window->statusText(), QString()); // the failed listing's note is cleared
    }

    void twentyTokensThenCellTextsThenAFailedListing()
    {
        VirtualKeyDevice key("VK1000001", false); // without the access-code function: mode 1
        std::vector<std::string> serials;
        QList<QStringList> twenty;
        for (int i = 0; i < VN_MAX_TOKENS; ++i) { // descending, so any sorting shows
            serials.push_back(QString::asprintf("VK10000%02d", 20 - i).toStdString());
            programToken(key, serials.back(), i % 2 ? VN_TYPE_HOTP : VN_TYPE_TOTP);
            twenty << QStringList{QString::fromStdString(serials.back()), i % 2 ? "HOTP" : "TOTP",
                                  "SHA-1", "6", "30"};
        }
        // The wait cursor goes with the key's work on a shown window; the start
        // lists before the window is on screen, when no cursor can be seen.
        QStringList cursors;
        key.beforeCall = [&cursors](DeviceCall call) {
            if (call == DeviceCall::OtpList)
                cursors << (waitCursorShown() ? "wait" : "none");
        };
        auto window = openWindow(key);
        QCOMPARE(rows(*window), twenty);
        QCOMPARE(window->state().listedSerials, serials);
        QVERIFY(!cursors.isEmpty() && !cursors.contains("wait"));
        cursors.clear();
        window->show();

        // Each record with its row; the list ends at the first empty serial number.
        const std::pair<OtpTokenRecord, QStringList> listing[] = {
            {tokenRecord("H30", VN_TYPE_HOTP, ""), {"H30", "HOTP", "SHA-1", "6", "30"}},
            {tokenRecord("T60", VN_TYPE_TOTP, "", VN_HASH_SHA256, 8, 60),
             {"T60", "TOTP", "SHA-256", "8", "60"}},
            {tokenRecord("SP", VN_TYPE_STATIC_PASSWORD, "", VN_HASH_SHA1, 8, 30),
             {"SP", "STATIC_PASSWORD", "SHA-1", "8", "30"}},
            {tokenRecord("CR", VN_TYPE_CHALLENGE_RESPONSE, "", VN_HASH_SHA256, 6, 60),
             {"CR", "CHALLENGE_RESPONSE", "SHA-256", "6", "60"}},
            {tokenRecord("ODD", 0x50, "", 3, 7, 45), {"ODD", "N/A", "N/A", "N/A", "N/A"}},
            {tokenRecord("", VN_TYPE_TOTP, ""), {}},
            {tokenRecord("AFTER", VN_TYPE_TOTP, ""), {}}, // never shown
        };
        QList<QStringList> cells;
        for (const auto& [record, row] : listing) {
            key.cannedListing.push_back(record);
            if (!row.isEmpty())
                cells << row;
        }
        QTest::mouseClick(window->control(ControlId::Refresh), Qt::LeftButton);
        QCOMPARE(rows(*window), cells);
        QVERIFY(!cursors.isEmpty() && !cursors.contains("none"));
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
        QCOMPARE(window->state().listedSerials,
                 (std::vector<std::string>{"H30", "T60", "SP", "CR", "ODD"}));

        key.failNext(DeviceCall::OtpList, VN_ERR_STORAGE);
        QTest::mouseClick(window->control(ControlId::Refresh), Qt::LeftButton);
        const QString listed = kListed + "The device is in PIN protection mode 1.\r\n";
        QCOMPARE(window->messagesText(), kFound + listed + listed +
                                             "Failed to list tokens (error = 0x80564E20)\r\n" +
                                             kAdmin + "\r\n");
        QCOMPARE(window->statusText(), kAdmin);
        QCOMPARE(window->tokenRowCount(), 0);
        QVERIFY(window->state().listedSerials.empty());
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
    // row (the predecessor of the last one); the next command must not act on
    // it. The PIN is asked once, then kept; the key gets its UTF-8 bytes.
    void removeLeavesNoTokenSelectedAndThePinIsAskedOnce()
    {
        VirtualKeyDevice key;
        for (const char* serial : {"T1", "T2", "T3"})
            programToken(key, serial);
        const QString pin = QStringLiteral("Gr\u00fc\u00dfe-42");
        const QByteArray utf8 = pin.toUtf8();
        QCOMPARE(key.OtpSetAccess(VN_SLOT_ALL, utf8.data(), utf8.size()), VN_OK);
        auto window = openWindow(key);
        ModalDriver driver([&](QWidget* d) { perform(d, {"pinEdit=" + pin, "okButton"}); });
        auto* list = qobject_cast<QTreeWidget*>(window->control(ControlId::TokenList));
        for (int row : {1, 1}) { // the middle row, then the former third one
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
        QStringList deleted;
        for (const RecordedCall& call : key.callsOf(DeviceCall::OtpDelete))
            deleted << QString(call.record.serial) +
                           (call.access == utf8.toStdString() ? " with the PIN" : "");
        QCOMPARE(deleted, (QStringList{"T2 with the PIN", "T3 with the PIN"}));
        QCOMPARE(driver.dialogsSeen(), 1);
    }

    // Every plug and pull is reported, also one while discovery runs and a
    // pull and plug of the same key while the window waits.
    void hotPlugEmptiesAndRefillsTheList()
    {
        VirtualKeyDevice key;
        programToken(key, "T1");
        key.unplug("VK1000001");
        key.beforeCall = [&key, once = true](DeviceCall call) mutable {
            if (call == DeviceCall::ListDevice && std::exchange(once, false))
                key.plug("VK1000001");
        };
        std::vector<std::chrono::milliseconds> waits;
        std::function<void()> duringWait;
        auto window =
            openWindow(key, QString::fromStdString(key.keyDir()), [&](std::chrono::milliseconds d) {
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

    // While the key waits for a touch the window paints and answers: Clear
    // works, nothing that starts work on the key can be pressed, and the
    // close box ends the program only once the key has answered, with 2.
    void theWindowAnswersWhileTheKeyWaitsForATouch()
    {
        VirtualKeyDevice key;
        programToken(key, "T1");
        key.setTouchNever(1500);
        QStringList during;
        QString atExit;
        QObject guard;
        QTimer::singleShot(10000, &guard, [] { QCoreApplication::exit(99); });
        const int code = Run([&]() -> std::unique_ptr<QWidget> {
            auto window = openWindow(key);
            CMainDlg* w = window.get();
            auto* list = qobject_cast<QTreeWidget*>(w->control(ControlId::TokenList));
            list->setCurrentItem(list->topLevelItem(0));
            QTimer::singleShot(
                0, w, [w] { QTest::mouseClick(w->control(ControlId::GetOtp), Qt::LeftButton); });
            QTimer::singleShot(700, w, [w, &during] {
                for (QPushButton* button : w->findChildren<QPushButton*>())
                    if (button->isEnabled())
                        during << button->accessibleName();
                during << w->statusText()
                       << w->messagesText().split("\r\n", Qt::SkipEmptyParts).last();
                QTest::mouseClick(w->control(ControlId::Clear), Qt::LeftButton);
                w->close();
                during << (w->isVisible() ? "still shown" : "gone");
            });
            connect(qApp, &QCoreApplication::aboutToQuit, w,
                    [w, &atExit] { atExit = w->messagesText(); });
            return window;
        });
        QCOMPARE(code, 2);
        QCOMPARE(during, (QStringList{"About", "Clear", "Please touch the key...",
                                      "Please touch the key!...", "still shown"}));
        QCOMPARE(atExit, "Failed to get OTP (error code = 0x800A6984)\r\n");
    }

    // A call that outlasts the grace disables the buttons that start work on
    // the key, and a disabled button loses the focus. The button the user was
    // on gets it back, also after a call made while a dialog held the
    // activation (Update PIN's), so that the next Tab starts where it was;
    // but a click into Messages while the key waited keeps the focus there.
    void theFocusReturnsAfterASlowCallUnlessTheUserMovedIt()
    {
        for (const bool fromDialog : {true, false}) {
            VirtualKeyDevice key;
            auto window = openWindow(key);
            window->show();
            QVERIFY(QTest::qWaitForWindowActive(window.get()));
            QWidget* refresh = window->control(ControlId::Refresh);
            auto* messages = qobject_cast<QPlainTextEdit*>(window->control(ControlId::Messages));
            refresh->setFocus();
            QDialog dialog(window.get());
            if (fromDialog) {
                dialog.show();
                QVERIFY(QTest::qWaitForWindowActive(&dialog));
            } else {
                QTimer::singleShot(250, messages, [messages] {
                    QTest::mouseClick(messages->viewport(), Qt::LeftButton);
                });
            }
            key.beforeCall = [](DeviceCall) {
                std::this_thread::sleep_for(std::chrono::milliseconds(400));
            };
            window->RefreshTokenList();
            QVERIFY(refresh->isEnabled());
            dialog.close();
            window->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(window.get()));
            QCOMPARE(window->focusWidget(), fromDialog ? refresh : messages);
        }
    }

    // The window gives room it gains to the token list and the Messages
    // panel. A long refusal wraps in the New Token dialog instead of pushing
    // Save and Cancel off a 1280x1024 screen.
    void layoutsGrowWithTheWindowAndWrapLongRefusals()
    {
        VirtualKeyDevice key;
        auto window = openWindow(key);
        window->show();
        QWidget* list = window->control(ControlId::TokenList);
        QWidget* messages = window->control(ControlId::Messages);
        QWidget* about = window->control(ControlId::About);
        const QSize listBefore = list->size(), messagesBefore = messages->size();
        const QSize aboutBefore = about->size();
        window->resize(window->size() + QSize(300, 200));
        QTRY_COMPARE(list->width(), listBefore.width() + 300);
        QCOMPARE(messages->width(), messagesBefore.width() + 300);
        QVERIFY(list->height() > listBefore.height() + 50);
        QVERIFY(messages->height() > messagesBefore.height() + 50);
        QCOMPARE(about->size(), aboutBefore);
        QVERIFY(window->rect().contains(about->geometry()));

        struct Refusing final : Recorder
        {
            OpResult<std::vector<const OpenFolder*>> open_folders() override
            {
                return std::vector<const OpenFolder*>();
            }
            OpResult<void> check(const TokenDescription&) override
            {
                return fail(Fault::Refused, "The seed folder " + std::string(300, 'x') +
                                                QString(" is not safe").repeated(40).toStdString());
            }
            std::vector<RecordOutcome> record(const TokenDescription&, std::string_view) override
            {
                return {};
            }
        } refusing;
        Recorder* const recorders[] = {&refusing};
        CNewTokenDlg dialog(key, "VK1000001", "", "VK100000101", recorders, window.get());
        dialog.show();
        perform(&dialog, {"generateSeedButton", "saveButton"});
        QVERIFY(dialog.isVisible());
        QTRY_VERIFY(dialog.findChild<QLabel*>("statusLine")->height() > 40);
        QVERIFY2(dialog.width() <= 1280 && dialog.frameGeometry().height() <= 1024,
                 qPrintable(QString("%1x%2").arg(dialog.width()).arg(dialog.height())));
        for (const char* name : {"saveButton", "cancelButton", "generateSeedButton"}) {
            const QWidget* button = dialog.findChild<QWidget*>(name);
            QVERIFY2(
                dialog.rect().contains(QRect(button->mapTo(&dialog, QPoint()), button->size())),
                name);
        }
    }

    // The Update PIN button and the status line belong to the key in hand:
    // after each swap they are read from the new key, as at start.
    void aSwappedKeyShowsItsOwnPinState()
    {
        VirtualKeyDevice key("HW1", true); // hardware mode, policy on, PIN set
        storePolicy(key, openPolicy());
        QCOMPARE(key.OtpSetAccess(VN_SLOT_ALL, "Kq7#pw12", 8), VN_OK);
        key.unplug("HW1");
        key.addKey("SW1", false); // software mode, policy on, no PIN
        storePolicy(key, openPolicy());
        key.unplug("SW1");
        key.addKey("NP1", true); // no policy
        key.unplug("NP1");
        key.plug("HW1");
        auto window =
            openWindow(key, QString::fromStdString(key.keyDir()), [](std::chrono::milliseconds) {});
        auto* updatePin = qobject_cast<QPushButton*>(window->control(ControlId::UpdatePin));
        auto pinButton = [&] {
            return (updatePin->isEnabled() ? "on " : "off ") + updatePin->text();
        };
        QCOMPARE(pinButton(), "on Change PIN");
        const std::tuple<const char*, const char*, QString> swaps[] = {
            {"HW1", "SW1", "on Set PIN"},
            {"SW1", "NP1", "off Set PIN"}, // the caption stays; the button is off
            {"NP1", "HW1", "on Change PIN"},
        };
        for (const auto& [out, in, expected] : swaps) {
            window->SetStatusText("Token PIN incorrect.");
            const int found = window->messagesText().count(kFound);
            key.unplug(out);
            key.plug(in);
            QTRY_COMPARE(window->messagesText().count(kFound), found + 1);
            QTRY_COMPARE(pinButton(), expected);
            QCOMPARE(window->statusText(), QString());
        }
    }

    // PIN Policy, then Update PIN, by the window's buttons through the linked
    // library, on a key of each PIN mode. The new PIN's checks come in their
    // order and leave the key as it was; the current PIN is asked for once a
    // PIN is set, and a wrong one may be corrected in the same dialog. Then
    // the key is read back.
    void pinButtonsThroughTheLinkedLibrary()
    {
        const QString mismatch = "New PIN and confirm PIN do not match. ";
        for (const bool hardware : {true, false}) {
            VirtualKeyDevice key("K1", hardware);
            qputenv("VN_KEY_DIR", QByteArray::fromStdString(key.keyDir()));
            LinkedDeviceApi device;
            auto window = openWindow(device);
            auto* updatePin = qobject_cast<QPushButton*>(window->control(ControlId::UpdatePin));
            // Whether the current PIN is asked for, what each OK left in the
            // message line, how many dialogs opened, and the Update PIN button.
            auto click = [&](int control, const QStringList& steps) {
                QString seen;
                ModalDriver driver([&](QWidget* dialog) {
                    if (auto* label = dialog->findChild<QLabel*>("currentPinLabel")) {
                        const bool edit =
                            dialog->findChild<QLineEdit*>("currentPinEdit")->isHidden();
                        seen = label->isHidden() != edit ? "half-hidden " : edit ? "new only " : "";
                    }
                    for (const QString& step : steps) {
                        perform(dialog, {step});
                        if (step == "okButton" && dialog->isVisible())
                            seen += dialog->findChild<QLabel*>("messageLabel")->text() + " ";
                    }
                });
                QTest::mouseClick(window->control(control), Qt::LeftButton);
                driver.disarm();
                return seen + QString::number(driver.dialogsSeen()) + " " +
                       (updatePin->isEnabled() ? updatePin->text() : "off");
            };
            QVERIFY(!updatePin->isEnabled()); // no policy yet
            const std::time_t before = std::time(nullptr);
            QFile log(QString::fromStdString(file_log_path().string()));
            const qint64 logged = log.size();
            QCOMPARE(
                click(ControlId::PinPolicy,
                      {"enabledBox", "minLengthEdit=6", "minNumericEdit=2", "maxSequentialEdit=3",
                       "maxRepeatingEdit=2", "expiryDaysEdit=90", "okButton"}),
                "1 Set PIN");
            const vkey::KeyState policySet = key.keyState();
            const std::pair<QStringList, QString> refused[] = {
                {{"", "abc"}, mismatch},
                {{"abcdef", "abcdefg"}, mismatch},
                {{"", ""}, "PIN is empty. "},
                {{"xq", "xq"}, "The minimum PIN length allowed is 6 "},
            };
            for (const auto& [pins, message] : refused)
                QCOMPARE(click(ControlId::UpdatePin,
                               {"newPinEdit=" + pins[0], "confirmPinEdit=" + pins[1], "okButton"}),
                         "new only " + message + "1 Set PIN");
            QVERIFY(key.keyState() == policySet);
            window->state().cachedPin = "stale"; // Update PIN closing must forget it
            // A hidden current PIN field counts as empty, whatever it holds.
            QCOMPARE(click(ControlId::UpdatePin, {"currentPinEdit=Wr0ng#x", "newPinEdit=Kq7#pw12",
                                                  "confirmPinEdit=Kq7#pw12", "okButton"}),
                     "new only 1 Change PIN");
            QCOMPARE(window->state().cachedPin, QString());
            QCOMPARE(click(ControlId::UpdatePin, {"currentPinEdit=Wr0ng#x", "newPinEdit=Zt4!mv90",
                                                  "confirmPinEdit=Zt4!mv90", "okButton",
                                                  "currentPinEdit=Kq7#pw12", "okButton"}),
                     "Failed to change PIN. Error: Token PIN incorrect. 1 Change PIN");

            // The last PIN is the key's, set just now.
            KeySession session(key);
            QCOMPARE(verify_pin(session, "Zt4!mv90").value_or(false), true);
            PinPolicyRecord expected = read_pin_policy_or_zero(session);
            QVERIFY(expected.pinSetTime >= before && expected.pinSetTime <= std::time(nullptr));

            // Policy values out of range are refused one by one, before the key.
            const vkey::KeyState pinSet = key.keyState();
            const QString to255 = "Please enter a whole number from 0 to 255 for the ";
            QCOMPARE(click(ControlId::PinPolicy,
                           {"minLengthEdit=", "okButton", "minLengthEdit=6", "maxRepeatingEdit=256",
                            "okButton", "maxRepeatingEdit=2", "minUppercaseEdit=3a", "okButton",
                            "minUppercaseEdit=0", "expiryDaysEdit=65536", "okButton"}),
                     to255 + "minimum PIN length. " + to255 +
                         "maximum number of repeating letters. " + to255 +
                         "minimum number of uppercase letters. Please enter a whole number from 0 "
                         "to 65535 for the days after which a newly set PIN expires. 1 Change PIN");
            QVERIFY(key.keyState() == pinSet);
            // Switched off and on again, the policy keeps the PIN and takes every value as typed.
            QCOMPARE(click(ControlId::PinPolicy, {"enabledBox", "okButton"}), "1 off");
            QCOMPARE(
                click(ControlId::PinPolicy,
                      {"enabledBox", "minLengthEdit=255", "minNumericEdit=1", "minLowercaseEdit=2",
                       "minUppercaseEdit=3", "minSpecialEdit=4", "maxSequentialEdit=5",
                       "maxRepeatingEdit=6", "expiryDaysEdit=65535", "okButton"}),
                "1 Change PIN");
            std::tie(expected.minLength, expected.minNumeric, expected.minLowercase,
                     expected.minUppercase, expected.minSpecial, expected.maxSequential,
                     expected.maxRepeating, expected.expiryDays) =
                std::tuple{255, 1, 2, 3, 4, 5, 6, 65535};
            QCOMPARE(read_pin_policy_or_zero(session), expected);
            // Each save is in the account's own log, none in a shared folder.
            QVERIFY(log.open(QIODevice::ReadOnly) && log.seek(logged));
            const QString saves = QString::fromLatin1(log.readAll());
            QVERIFY2(
                QRegularExpression(R"(^(\[.{19}\] \[OnSaveCmd\]\n)+$)").match(saves).hasMatch(),
                qPrintable(saves));
        }
    }

    // Seed records as a user chooses them: a PSKC file with a password instead
    // of the clear-text files, in the profile picked. New Token then writes a
    // PSKC file and no seed file; the password is asked once; the next run has
    // the choice again. python3-pskc decrypts a file of either profile to the
    // key's seeds; a strict server import takes an interop file token by token
    // (serial, seed, hash) and refuses a strong one.
    void seedRecordsSendNewTokensToThePskcFileInsteadOfTheSeedFiles()
    {
        for (const auto& [profile, comboText] :
             {std::pair{pskc::Profile::Strong, "Strong"}, {pskc::Profile::Interop, "Interop"}}) {
            QTemporaryDir dir;
            const QString seeds = dir.filePath("seeds"), pskc = dir.filePath("tokens.pskc");
            QVERIFY(QDir().mkdir(seeds));
            QFile::setPermissions(seeds, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            VirtualKeyDevice key;
            auto window = openWindow(key);
            window->state().seedFolder = seeds.toStdString();
            QStringList seen;
            ModalDriver driver([&seen, &pskc, comboText](QWidget* dialog) {
                seen << dialog->objectName();
                if (dialog->objectName() == "SeedRecordsDlg") {
                    dialog->findChild<QCheckBox*>("seedFilesCheck")->setChecked(false);
                    auto* combo = dialog->findChild<QComboBox*>("pskcProfileCombo");
                    combo->setCurrentIndex(combo->findText(comboText, Qt::MatchStartsWith));
                    perform(dialog, {"pskcFileEdit=" + pskc, "okButton"});
                } else if (dialog->objectName() == "PskcPasswordDlg") { // Enter in the edit is OK
                    for (QLineEdit* edit : dialog->findChildren<QLineEdit*>())
                        edit->setText("long pass phrase");
                    QTest::keyClick(dialog->findChild<QLineEdit*>("passwordEdit"), Qt::Key_Return);
                } else {
                    perform(dialog, {"generateSeedButton", "saveButton"});
                }
            });
            for (const int button :
                 {ControlId::SeedRecords, ControlId::NewToken, ControlId::NewToken})
                qobject_cast<QPushButton*>(window->control(button))->click();
            QCOMPARE(seen, QStringList({"SeedRecordsDlg", "PskcPasswordDlg", "CNewTokenDlg",
                                        "CNewTokenDlg"}));
            QCOMPARE(QDir(seeds).entryList(QDir::Files), QStringList());
            QCOMPARE(window->messagesText().count("Recorded in " + pskc + "\r\n"), 2);

            QTemporaryFile password;
            QVERIFY(password.open());
            password.write("long pass phrase\n");
            password.close();
            const auto read = [&](const char* script, const QStringList& command) {
                QProcess python;
                python.start("/usr/bin/python3",
                             QStringList{script} + command +
                                 QStringList{pskc, "--password-file", password.fileName()});
                python.waitForFinished(60000);
                return QJsonDocument::fromJson(python.readAllStandardOutput()).array();
            };
            const QJsonArray dumped = read(PSKC_REFERENCE, {"dump"});
            const QJsonArray imported = read(STRICT_IMPORT, {});
            QCOMPARE(imported.size(), profile == pskc::Profile::Interop ? 2 : 0);
            KeySession session(key);
            const auto tokens = session.tokens();
            QVERIFY(tokens && tokens->size() == 2 && dumped.size() == 2);
            for (int i = 0; i < 2; ++i) { // the key's OTP, and the decrypted seed's
                const QJsonObject decrypted =
                    (imported.isEmpty() ? dumped : imported)[i].toObject();
                const ListedToken& token = (*tokens)[std::size_t(i)];
                QCOMPARE(decrypted[imported.isEmpty() ? "id" : "serial"].toString().toStdString(),
                         token.serial);
                QCOMPARE(decrypted[imported.isEmpty() ? "suite" : "hash"].toString(), "sha1");
                const QByteArray seed =
                    QByteArray::fromHex(decrypted["secret"].toString().toLatin1());
                QCOMPARE(session.calculate(token, 1'700'000'010, "").value_or(""),
                         referenceOtp(seed.toStdString(), 1'700'000'010 / 30, 6, false));
            }
            window.reset();
            const SeedRecordsChoice stored = openWindow(key)->state().records;
            QCOMPARE(stored.pskcFile, pskc);
            QCOMPARE(stored.pskcProfile, profile);
        }
    }

    // A key that refuses the read may hold a PIN: a record written without
    // the PIN's state would erase it.
    void policyDialogWritesNothingOverARecordItCannotRead()
    {
        VirtualKeyDevice key("VK1000001", false);
        storePolicy(key, openPolicy());
        QStringList logged;
        CPinPolicyDlg dialog(key, nullptr,
                             [&](std::string_view line) { logged << QString::fromUtf8(line); });
        dialog.show();
        key.clearCalls();
        key.failNext(DeviceCall::OtpList, VN_ERR_STORAGE);
        dialog.okButton()->click();
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.messageLabel()->text(), "Failed to read PIN policy.");
        QCOMPARE(logged.last(), "[OnSaveCmd] Failed to read PIN policy.");
        QCOMPARE(key.count(DeviceCall::OtpPersonalize), 0);
    }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
