// The token commands against the virtual key, seen through a window without
// widgets (the exact texts, what reached the key, what the user saw while the
// key waited for a touch), then through the real main window's buttons.

#include "tokens/TokenOperations.h"
#include "app/CMainDlg.h"
#include "device/AnsiText.h"
#include "pin/PinPolicyRecord.h"

#include "support/FakeMainWindow.h"
#include "support/ForwardingDevice.h"
#include "support/ModalDriver.h"
#include "support/OtpReference.h"
#include "support/ScriptedDevice.h"
#include "support/VirtualKeyDevice.h"

#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>
#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/ringbuffer_sink.h>
#include <spdlog/spdlog.h>

#include <cstdlib>
#include <cstring>
#include <regex>

namespace {

const QString kTouchMessage = QStringLiteral("Please touch the key!...\r\n");
const QString kStatusTouch = QStringLiteral("<status:Please touch the key...>");
const QString kStatusClear = QStringLiteral("<status:>");
// What the user saw while the key waited: the status line, then the cursor.
const QString kTouched = QStringLiteral("Please touch the key...|busy");
const QString kStale = QStringLiteral(
    "The token list is out of date. Please click Refresh and select the token again.\r\n");

// The commands under test, as the main window's buttons call them.
using Command = void (*)(MainWindowPort&);
const Command GetOtp = OnBnClickedGetOTP, Remove = OnBnClickedRemovetoken, Reset = OnBnClickedReset,
              SetEnter = OnSetEnter;

// Each successful Get OTP, in order on the window.
QStringList otpEvents(const QString& label, const std::string& value)
{
    return {kStatusTouch, kTouchMessage, "Get OTP succeeded!\r\n",
            label + QString::fromStdString(value) + "\r\n", kStatusClear};
}

// Every command runs against the in-process virtual key and against the
// linked libVN_Manager.so on the same key files, which is what the program uses.
enum class Backend { InProcess, LinkedLibrary };

class TokenOperationsTest : public ::testing::TestWithParam<Backend>
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(::setenv("VN_KEY_DIR", key.keyDir().c_str(), 1), 0); // for the library
        m_log = std::make_shared<spdlog::sinks::ringbuffer_sink_mt>(16);
        m_log->set_formatter(std::make_unique<spdlog::pattern_formatter>(
            "%v", spdlog::pattern_time_type::local, ""));
        spdlog::set_default_logger(std::make_shared<spdlog::logger>("test", m_log));
        modals.arm([](QWidget* dialog) { dialog->close(); }); // unasked dialogs are counted
        window.setControlEnabled(ControlId::GetOtp, true);
        window.setControlEnabled(ControlId::Reset, true);
    }
    void TearDown() override
    {
        modals.disarm();
        EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr); // no wait cursor outlives a command
    }

    // Programs HOTP, TOTP and TOTP SHA-256 tokens straight into the key and lists them.
    void programThree()
    {
        for (const auto& t :
             {tokenRecord("TK-A", VN_TYPE_HOTP, kRfcSeedSha1),
              tokenRecord("TK-B", VN_TYPE_TOTP, kRfcSeedSha1, VN_HASH_SHA1, 8, 30),
              tokenRecord("TK-C", VN_TYPE_TOTP, kRfcSeedSha256, VN_HASH_SHA256, 8, 60)})
            ASSERT_EQ(key.OtpPersonalize(t, "", 0, 1), VN_OK) << t.serial;
        window.RefreshTokenList();
    }
    // Forgets what was recorded, selects `row` and runs the command.
    void act(Command command, int row)
    {
        window.clearRecords();
        device.clearCalls();
        touches.clear();
        window.selected = row;
        command(window);
    }

    std::vector<std::string> logLines() const { return m_log->last_formatted(); }
    std::vector<std::string> storedSerials()
    {
        std::vector<std::string> out;
        for (const auto& t : key.storedTokens())
            out.push_back(fieldText(t.serial, sizeof t.serial));
        return out;
    }
    VirtualKeyDevice key;
    LinkedDeviceApi linked;
    ScriptedDevice device{GetParam() == Backend::LinkedLibrary ? static_cast<DeviceApi&>(linked)
                                                               : key};
    QStringList touches;
    // Outermost, so that it also sees the calls whose status is scripted.
    TouchWatchDevice watched{
        device, [this] {
            touches << window.statusText + (waitCursorShown() ? "|busy" : "") +
                           (window.isControlEnabled(ControlId::Reset) ? "" : "|reset off");
        }};
    FakeMainWindow window{watched};
    ModalDriver modals;

private:
    std::shared_ptr<spdlog::sinks::ringbuffer_sink_mt> m_log;
};

// Get OTP shows the value the key computed, which must be the RFC value: for
// TOTP from the local time sent as the 19-character challenge (RFC 6238), for
// HOTP from the counter, 0 then 1, without a challenge (RFC 4226 Appendix D).
TEST_P(TokenOperationsTest, GetOtpShowsTheRfcValue)
{
    // The reference itself, on RFC 6238's own vectors at T = 59 s.
    ASSERT_EQ(referenceOtp(kRfcSeedSha1, 59 / 30, 8, false), "94287082");
    ASSERT_EQ(referenceOtp(kRfcSeedSha256, 59 / 30, 8, true), "46119246");
    programThree();
    std::array<OtpTokenRecord, VN_MAX_TOKENS> listing{};
    ASSERT_EQ(key.OtpList(VN_SLOT_ALL, listing.data()), VN_OK);
    for (int row : {1, 2, 0, 0}) {
        SCOPED_TRACE(row);
        const std::time_t before = std::time(nullptr);
        act(GetOtp, row);
        const std::time_t after = std::time(nullptr);
        const auto calcs = device.callsOf(DeviceCall::OtpCalculate);
        ASSERT_EQ(calcs.size(), 1u);
        // The record goes to the key exactly as the key listed it.
        EXPECT_EQ(std::memcmp(&calcs[0].record, &listing[row], sizeof(OtpTokenRecord)), 0);
        EXPECT_EQ(touches, QStringList{kTouched});
        EXPECT_EQ(window.selectedToken, row);
        const std::string& challenge = calcs[0].challenge;
        if (row == 0) {
            EXPECT_EQ(calcs[0].challengeLen, 0u);
            EXPECT_EQ(challenge, "");
            EXPECT_EQ(window.events,
                      otpEvents("HOTP = ", key.hotpCounter("TK-A") == 1 ? "755224" : "287082"));
            continue;
        }
        EXPECT_EQ(calcs[0].challengeLen, 19u);
        EXPECT_TRUE(std::regex_match(challenge, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)")))
            << challenge;
        const auto when = epochOfLocalTime(challenge);
        ASSERT_TRUE(when.has_value());
        EXPECT_GE(*when, before - 1);
        EXPECT_LE(*when, after);
        const bool sha256 = row == 2;
        const auto step = static_cast<uint64_t>(*when) / (sha256 ? 60 : 30);
        EXPECT_EQ(window.events,
                  otpEvents("TOTP = ",
                            referenceOtp(sha256 ? kRfcSeedSha256 : kRfcSeedSha1, step, 8, sha256)));
    }
    EXPECT_EQ(key.hotpCounter("TK-A"), 2u);
}

// Get OTP and Remove that must stop before the key computes or deletes: the
// exact lines, how far they got, and nothing changed in the list or on the key.
TEST_P(TokenOperationsTest, CommandsStoppedBeforeTheKeyChangeNothing)
{
    struct Case
    {
        const char* name;
        Command command;
        int row;
        std::function<void()> arrange;
        QStringList events;
        int listings; // -1: no device call at all
    };
    const auto nothing = [] {};
    const auto checkFails = [this] { device.failNext(DeviceCall::OtpHasAccess, VN_ERR_STORAGE); };
    const auto pinSet = [this] { ASSERT_EQ(key.OtpSetAccess(VN_SLOT_ALL, "2468", 4), VN_OK); };
    const auto listingFails = [this] { device.failNext(DeviceCall::OtpList, VN_ERR_NO_DEVICE); };
    // A token deleted by someone else: row 1 then names TK-C on the key, row 2 nothing.
    const auto deletedBehind = [this](const char* serial) {
        return [this, serial] {
            ASSERT_EQ(key.OtpDelete(tokenRecord(serial, VN_TYPE_HOTP, ""), "", 0), VN_OK);
        };
    };
    const QString noCheck = "<status:Failed to check if OTP is protected by PIN.>";
    const QString wrongPin = "<status:PIN is incorrect.>";
    const std::vector<Case> cases = {
        {"Get OTP, no selection", GetOtp, -1, nothing, {"Please select a token\r\n"}, -1},
        {"Remove, no selection", Remove, -1, nothing, {"Please select a token first\r\n"}, -1},
        {"Get OTP, PIN check fails", GetOtp, 1, checkFails, {noCheck}, 0},
        {"Remove, wrong PIN", Remove, 1, pinSet, {wrongPin}, 0},
        {"Get OTP, listing fails", GetOtp, 1, listingFails, {}, 1},
        {"Remove, listing fails", Remove, 1, listingFails, {}, 1},
        {"Get OTP, row moved", GetOtp, 1, deletedBehind("TK-B"), {kStale}, 1},
        {"Remove, row moved", Remove, 1, deletedBehind("TK-B"), {kStale}, 1},
        {"Get OTP, row gone", GetOtp, 2, deletedBehind("TK-C"), {kStale}, 1},
        {"Remove, row gone", Remove, 2, deletedBehind("TK-C"), {kStale}, 1},
    };
    modals.arm([](QWidget* d) { perform(d, {"pinEdit=0000", "okButton"}); });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(key.OtpReset(), VN_OK); // also forgets the access code
        programThree();
        c.arrange();
        const auto onKey = storedSerials();
        act(c.command, c.row);

        EXPECT_EQ(window.events, c.events);
        EXPECT_EQ(device.calls().empty(), c.listings < 0);
        EXPECT_EQ(device.count(DeviceCall::OtpList), std::max(c.listings, 0));
        EXPECT_EQ(device.count(DeviceCall::OtpCalculate) + device.count(DeviceCall::OtpDelete), 0);
        EXPECT_EQ(window.serialColumn(), (QStringList{"TK-A", "TK-B", "TK-C"}));
        EXPECT_EQ(storedSerials(), onKey);
        EXPECT_TRUE(window.cachedPin.isEmpty());
        if (c.events.value(0).startsWith("<status:")) { // a PIN failure goes to the error log too
            EXPECT_EQ(logLines().empty() ? "" : logLines().back(),
                      (c.command == GetOtp ? "[OnBnClickedGetOTP]" : "[OnBnClickedRemovetoken]") +
                          (" Failed to query_pin_ifn. Error=" +
                           c.events[0].mid(8).chopped(1).toStdString()));
        }
    }
}

// With a PIN set: asked once, then cached; removing the second of three rows,
// then acting on the former third one, which is the second row now.
TEST_P(TokenOperationsTest, RemoveTheMiddleRowThenActOnTheFormerThirdWithTheCachedPin)
{
    programThree();
    const QString pin = QStringLiteral("Gr\u00fc\u00dfe-42"); // the key gets its UTF-8 bytes
    const std::string utf8 = pin.toUtf8().toStdString();
    ASSERT_EQ(key.OtpSetAccess(VN_SLOT_ALL, utf8.c_str(), static_cast<uint32_t>(utf8.size())),
              VN_OK);
    modals.arm([&](QWidget* d) { perform(d, {"pinEdit=" + pin, "okButton"}); });
    auto deviceCall = [&](DeviceCall call) {
        const auto calls = device.callsOf(call);
        EXPECT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls.empty() ? "" : calls[0].access, utf8);
        return calls.empty() ? OtpTokenRecord{} : calls[0].record;
    };

    act(Remove, 1);
    EXPECT_STREQ(deviceCall(DeviceCall::OtpDelete).serial, "TK-B");
    EXPECT_EQ(window.events,
              (QStringList{kStatusTouch, kStatusClear, "Token SN=TK-B removed\r\n"}));
    EXPECT_EQ(touches, QStringList{kTouched});
    EXPECT_EQ(window.serialColumn(), (QStringList{"TK-A", "TK-C"}));

    act(GetOtp, 1);
    EXPECT_STREQ(deviceCall(DeviceCall::OtpCalculate).serial, "TK-C");
    EXPECT_TRUE(window.messages.value(2).startsWith("TOTP = "));

    act(Remove, 1);
    EXPECT_STREQ(deviceCall(DeviceCall::OtpDelete).serial, "TK-C");
    EXPECT_EQ(window.messages, QStringList{"Token SN=TK-C removed\r\n"});
    EXPECT_EQ(storedSerials(), std::vector<std::string>{"TK-A"});
    EXPECT_EQ(window.serialColumn(), QStringList{"TK-A"});
    EXPECT_EQ(modals.dialogsSeen(), 1);
    for (const auto& line : logLines())
        EXPECT_EQ(line.find(utf8), std::string::npos) << "a PIN reached the log";
}

// Commands that reached the key: the lines, the status line cleared after the
// touch, and the rows, buttons and tokens left behind.
TEST_P(TokenOperationsTest, KeyFailuresAndResetLeaveTheRightRowsAndButtons)
{
    struct Case
    {
        const char* name;
        Command command;
        int row;
        std::function<void()> arrange;
        QString outcome;
        bool emptied;
    };
    const std::vector<Case> cases = {
        {"Get OTP, key not touched", GetOtp, 0, [this] { key.setTouchNever(50); },
         "Failed to get OTP (error code = 0x800A6984)\r\n", false},
        {"Remove refused", Remove, 2,
         [this] { device.failNext(DeviceCall::OtpDelete, VN_ERR_WRONG_ACCESS); },
         "Failed to delete the OTP token SN=TK-C (error code = 0x80564E40)\r\n", false},
        {"Reset fails", Reset, -1,
         [this] { device.failNext(DeviceCall::OtpReset, VN_ERR_TOUCH_TIMEOUT); },
         "Failed to reset the device (error code = 0x800A6984)\r\n", false},
        {"Reset succeeds", Reset, -1, [] {}, "Reset Succeeded!\r\n", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        key.setTouchAuto();
        ASSERT_EQ(key.OtpReset(), VN_OK);
        programThree();
        window.pinButtonUpdates = 0;
        c.arrange();
        act(c.command, c.row);

        const bool reset = c.command == Reset;
        EXPECT_EQ(window.events,
                  (c.command == Remove // Remove writes after the touch
                       ? QStringList{kStatusTouch, kStatusClear, c.outcome}
                       : QStringList{kStatusTouch, kTouchMessage, c.outcome, kStatusClear}));
        // A reset cannot be clicked again while the key waits.
        EXPECT_EQ(touches, QStringList{kTouched + (reset ? "|reset off" : "")});
        EXPECT_TRUE(window.isControlEnabled(ControlId::Reset));
        EXPECT_EQ(window.isControlEnabled(ControlId::GetOtp), !c.emptied);
        EXPECT_EQ(window.rows.size(), c.emptied ? 0u : 3u);
        EXPECT_EQ(storedSerials().size(), c.emptied ? 0u : 3u);
        EXPECT_EQ(window.listedSerials.size(), 3u);        // until the next refresh
        EXPECT_EQ(window.pinButtonUpdates, reset ? 1 : 0); // a reset erases the PIN too
    }
}

TEST_P(TokenOperationsTest, SetEnterSendsTheChoiceOrNothing)
{
    struct Case
    {
        const char* name;
        bool check;
        std::string_view close; // a button's object name, or "escape"
        uint32_t keyStatus;
        int sent; // -1: nothing
    };
    const std::vector<Case> cases = {
        {"checked", true, "saveButton", VN_OK, 1},
        {"unchecked", false, "saveButton", VN_OK, 0},
        {"cancel", false, "cancelButton", VN_OK, -1},
        {"escape", true, "escape", VN_OK, -1},
        {"key gone", true, "saveButton", VN_ERR_NO_DEVICE, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.keyStatus != VN_OK)
            device.failNext(DeviceCall::OtpSetValueWithEnter, c.keyStatus);
        const bool flagBefore = key.enterFlag();
        bool startedChecked = false;
        modals.arm([&](QWidget* dialog) {
            auto* box = dialog->findChild<QCheckBox*>("appendEnterCheck");
            startedChecked = box->isChecked();
            box->setChecked(c.check);
            if (c.close == "escape")
                QTest::keyClick(dialog, Qt::Key_Escape);
            else
                perform(dialog, {QString::fromLatin1(c.close)});
        });
        act(SetEnter, -1);

        EXPECT_EQ(modals.dialogsSeen(), 1);
        EXPECT_TRUE(startedChecked);
        const auto sent = device.callsOf(DeviceCall::OtpSetValueWithEnter);
        ASSERT_EQ(sent.size(), c.sent < 0 ? 0u : 1u);
        EXPECT_EQ(sent.empty() ? -1 : int{sent[0].flag}, c.sent);
        EXPECT_EQ(key.enterFlag(), c.sent >= 0 && c.keyStatus == VN_OK ? c.sent == 1 : flagBefore);
        // No touch, so nothing on the status line.
        const QString line = c.keyStatus == VN_OK ? "Set C/R succeeded!\r\n"
                                                  : "Failed to set C/R (error = 0x80564E02)\r\n";
        EXPECT_EQ(window.events, c.sent < 0 ? QStringList{} : QStringList{line});
    }
}

INSTANTIATE_TEST_SUITE_P(Backends, TokenOperationsTest,
                         ::testing::Values(Backend::InProcess, Backend::LinkedLibrary),
                         [](const auto& info) {
                             return info.param == Backend::InProcess ? "InProcessKey"
                                                                     : "LinkedLibrary";
                         });

// Selects `row` (none when -1), clicks the main window's button and returns
// what the Messages panel gained.
QString click(CMainDlg& window, int id, int row = -1)
{
    auto* list = qobject_cast<QTreeWidget*>(window.control(ControlId::TokenList));
    list->clearSelection();
    if (row >= 0)
        list->topLevelItem(row)->setSelected(true);
    const auto before = window.messagesText().size();
    auto* button = qobject_cast<QPushButton*>(window.control(id));
    if (!button || !button->isEnabled())
        return "<button not enabled>";
    QTest::mouseClick(button, Qt::LeftButton);
    return window.messagesText().mid(before);
}

TEST(MainWindowTokenCommands, EachButtonRunsItsCommandWithTheTouchNoteShown)
{
    VirtualKeyDevice key;
    for (const char* serial : {"MW-A", "MW-B", "MW-C"})
        ASSERT_EQ(key.OtpPersonalize(tokenRecord(serial, VN_TYPE_HOTP, kRfcSeedSha1), "", 0, 1),
                  VN_OK);
    QStringList statusAtTouch;
    CMainDlg* shown = nullptr;
    TouchWatchDevice device(key, [&] { statusAtTouch << shown->statusText(); });
    CMainDlg window(device, CMainDlg::Options{.keyDir = QString()});
    shown = &window;
    ASSERT_TRUE(window.Create());

    EXPECT_EQ(click(window, ControlId::GetOtp, 2),
              "Please touch the key!...\r\nGet OTP succeeded!\r\nHOTP = 755224\r\n");
    EXPECT_EQ(click(window, ControlId::Remove, 1), "Token SN=MW-B removed\r\n");
    ModalDriver modals([](QWidget* d) { perform(d, {"saveButton"}); });
    EXPECT_EQ(click(window, ControlId::SetEnter), "Set C/R succeeded!\r\n");
    EXPECT_EQ(click(window, ControlId::Reset), "Please touch the key!...\r\nReset Succeeded!\r\n");
    EXPECT_EQ(window.tokenRowCount(), 0);
    EXPECT_FALSE(window.control(ControlId::GetOtp)->isEnabled());
    EXPECT_EQ(statusAtTouch, QStringList(3, "Please touch the key..."));
}

TEST(MainWindowTokenCommands, PinIsAskedOnceUntilUpdatePinCloses)
{
    VirtualKeyDevice key;
    ASSERT_EQ(key.OtpPersonalize(tokenRecord("MW-P", VN_TYPE_HOTP, kRfcSeedSha1), "", 0, 1), VN_OK);
    ASSERT_EQ(key.OtpSetAccess(VN_SLOT_ALL, "8642", 4), VN_OK);
    // Update PIN opens its dialog only under an enabled PIN policy.
    ASSERT_TRUE(write_pin_policy(key, PinPolicyRecord{.enabled = 1}).has_value());
    CMainDlg window(key, CMainDlg::Options{.keyDir = QString()});
    ASSERT_TRUE(window.Create());
    QStringList seen;
    ModalDriver modals([&](QWidget* dialog) {
        seen << dialog->objectName();
        if (dialog->objectName() == "PinDlg")
            perform(dialog, {"pinEdit=8642", "okButton"});
    }); // Update PIN is closed as it comes, without a change.

    click(window, ControlId::GetOtp, 0);
    click(window, ControlId::GetOtp, 0);
    click(window, ControlId::UpdatePin);
    const QString third = QString::fromStdString(referenceOtp(kRfcSeedSha1, 2, 6, false));
    EXPECT_TRUE(click(window, ControlId::GetOtp, 0).endsWith("HOTP = " + third + "\r\n"));
    modals.disarm();
    EXPECT_EQ(seen, (QStringList{"PinDlg", "UpdatePinDlg", "PinDlg"}));
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
