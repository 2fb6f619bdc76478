// Get OTP, Remove, Reset and Set ENTER against the virtual key, over a window
// without widgets.

#include "app/TokenButtons.h"
#include "support/FakeMainWindow.h"
#include "support/ModalDriver.h"
#include "support/OtpReference.h"
#include "support/VirtualKeyDevice.h"

#include "KeyState.h"

#include <QCheckBox>
#include <QDateTime>

#include <gtest/gtest.h>

using namespace otp;
using namespace otp::core;
using namespace otp::pskc;
using namespace otp::app;

namespace {

const QString kTouchMessage = "Please touch the key!...\r\n";
const QString kStatusTouch = "<status:Please touch the key...>";
const QString kStatusClear = "<status:>";
const QString kTouched = "Please touch the key...|busy";
const QString kStale =
    "The token list is out of date. Please click Refresh and select the token again.\r\n";

using Command = void (*)(MainWindowPort&);
const Command GetOtp = OnBnClickedGetOTP, Remove = OnBnClickedRemovetoken, Reset = OnBnClickedReset;

class TokenButtonsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        modals.arm([](QWidget* dialog) { dialog->close(); });
        // What the window shows while the key waits for a touch.
        key.beforeCall = [this](DeviceCall call) {
            if (call == DeviceCall::OtpPersonalize || call == DeviceCall::OtpCalculate ||
                call == DeviceCall::OtpDelete || call == DeviceCall::OtpReset)
                touches << window.statusText + (waitCursorShown() ? "|busy" : "") +
                               (window.isControlEnabled(ControlId::Reset) ? "" : "|reset off");
        };
        window.setControlEnabled(ControlId::GetOtp, true);
        window.setControlEnabled(ControlId::Reset, true);
    }
    void TearDown() override
    {
        modals.disarm();
        EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    }
    // An empty key gets HOTP, TOTP and TOTP SHA-256 tokens, and the window lists them.
    void programThree()
    {
        ASSERT_EQ(key.OtpReset(), VN_OK);
        for (const auto& t :
             {tokenRecord("TK-A", VN_TYPE_HOTP, kRfcSeedSha1),
              tokenRecord("TK-B", VN_TYPE_TOTP, kRfcSeedSha1, VN_HASH_SHA1, 8, 30),
              tokenRecord("TK-C", VN_TYPE_TOTP, kRfcSeedSha256, VN_HASH_SHA256, 8, 60)})
            ASSERT_EQ(key.OtpPersonalize(t, "", 0, 1), VN_OK) << t.serial;
        window.refreshTokenList();
    }
    void act(Command command, int row)
    {
        window.clearRecords();
        key.clearCalls();
        touches.clear();
        window.selected = row;
        command(window);
    }
    VirtualKeyDevice key;
    QStringList touches;
    FakeMainWindow window{key};
    ModalDriver modals;
};

// TOTP from the local time of the click, taken before the touch prompt (the
// window's clock moves on at every status text); HOTP from the counter, 0
// then 1, without a challenge. One PIN-mode probe per click, no PIN asked.
TEST_F(TokenButtonsTest, GetOtpShowsTheRfcValueOfTheMomentOfTheClick)
{
    programThree();
    for (int row : {1, 2, 0, 0}) {
        SCOPED_TRACE(row);
        const std::time_t clicked = window.clock;
        act(GetOtp, row);
        const auto calcs = key.callsOf(DeviceCall::OtpCalculate);
        ASSERT_EQ(calcs.size(), 1u); // of the clicked row's token: the OTP below is its own
        EXPECT_EQ(touches, QStringList{kTouched});
        EXPECT_EQ(key.count(DeviceCall::OtpChangeAccess), 1);
        QString otp = key.keyState().tokens[0].counter == 1 ? "HOTP = 755224" : "HOTP = 287082";
        const std::string local =
            QDateTime::fromSecsSinceEpoch(clicked).toString("yyyy-MM-dd HH:mm:ss").toStdString();
        EXPECT_EQ(calcs[0].challenge, row == 0 ? "" : local);
        if (const bool sha256 = row == 2; row != 0)
            otp = "TOTP = " + QString::fromStdString(referenceOtp(
                                  sha256 ? kRfcSeedSha256 : kRfcSeedSha1,
                                  static_cast<uint64_t>(clicked) / (sha256 ? 60 : 30), 8, sha256));
        EXPECT_EQ(window.events, (QStringList{kStatusTouch, kTouchMessage, "Get OTP succeeded!\r\n",
                                              otp + "\r\n", kStatusClear}));
    }
    EXPECT_EQ(key.keyState().tokens[0].counter, 2u);
    EXPECT_EQ(modals.dialogsSeen(), 0);
}

// Commands that must stop before the key computes or deletes: the exact
// lines, and nothing changed in the list or on the key by the command. A
// hot-plug refresh during the PIN prompt moves another token into the
// clicked row: the command compares with the token the user clicked.
TEST_F(TokenButtonsTest, CommandsStoppedBeforeTheKeyChangeNothing)
{
    QString pin;                     // what the PIN prompt gets
    std::function<void()> meanwhile; // what happens during the prompt
    QStringList rows;                // the rows and
    std::vector<std::string> onKey;  // the tokens before the command decides
    const auto snapshot = [&] {
        rows = window.rows;
        onKey = key.storedSerials();
        key.clearCalls();
    };
    const auto deleted = [this](const char* serial, std::string code = "") {
        return [=, this] {
            ASSERT_EQ(key.OtpDelete(tokenRecord(serial, 0, ""), code.data(), code.size()), VN_OK);
        };
    };
    const auto pinSet = [&](const QString& typed, std::function<void()> during = {}) {
        return [&, typed, during] {
            ASSERT_EQ(key.OtpSetAccess(VN_SLOT_ALL, "2468", 4), VN_OK);
            pin = typed;
            meanwhile = during;
        };
    };
    const auto refreshed = [&] {
        deleted("TK-A", "2468")();
        window.refreshTokenList();
    };
    const std::tuple<Command, int, std::function<void()>, QStringList> cases[] = {
        {GetOtp,
         1,
         [&] { key.failNext(DeviceCall::OtpHasAccess, VN_ERR_STORAGE); },
         {"<status:Failed to check if OTP is protected by PIN.>"}},
        {Remove, 1, pinSet("0000"), {"<status:PIN is incorrect.>"}},
        {GetOtp, 1, [&] { key.failNext(DeviceCall::OtpList, VN_ERR_NO_DEVICE); }, {}},
        {GetOtp, 1, deleted("TK-B"), {kStale}}, // row 1 names TK-C on the key now
        {Remove, 1, deleted("TK-B"), {kStale}},
        {Remove, 2, deleted("TK-C"), {kStale}}, // row 2 names nothing
        {GetOtp, 0, pinSet("2468", refreshed), {"<refresh>", kStale}},
        {Remove, 0, pinSet("2468", refreshed), {"<refresh>", kStale}},
    };
    modals.arm([&](QWidget* d) {
        if (auto run = std::exchange(meanwhile, nullptr)) {
            run();
            snapshot();
        }
        perform(d, {"pinEdit=" + pin, "okButton"});
    });
    for (const auto& [command, row, arrange, events] : cases) {
        SCOPED_TRACE(events.join("").toStdString() + std::to_string(row));
        programThree();
        window.windowState.cachedPin.clear();
        arrange();
        snapshot();
        act(command, row);
        EXPECT_EQ(window.events, events);
        EXPECT_EQ(key.count(DeviceCall::OtpCalculate) + key.count(DeviceCall::OtpDelete), 0);
        EXPECT_EQ(window.rows, rows);
        EXPECT_EQ(key.storedSerials(), onKey);
    }
}

// Commands that reached the key: the lines, and the rows and buttons left behind.
TEST_F(TokenButtonsTest, KeyFailuresAndResetLeaveTheRightRowsAndButtons)
{
    const std::tuple<Command, int, std::function<void()>, QString> cases[] = {
        {Remove, 2, [this] { key.failNext(DeviceCall::OtpDelete, VN_ERR_WRONG_ACCESS); },
         "Failed to delete the OTP token SN=TK-C (error code = 0x80564E40)\r\n"},
        {Reset, -1, [this] { key.failNext(DeviceCall::OtpReset, VN_ERR_TOUCH_TIMEOUT); },
         "Failed to reset the device (error code = 0x800A6984)\r\n"},
        {Reset, -1, [] {}, "Reset Succeeded!\r\n"},
        {GetOtp, 0, [this] { key.setTouchNever(50); }, // for good
         "Failed to get OTP (error code = 0x800A6984)\r\n"},
    };
    for (const auto& [command, row, arrange, outcome] : cases) {
        SCOPED_TRACE(outcome.toStdString());
        programThree();
        window.setControlEnabled(ControlId::GetOtp, true);
        window.pinButtonUpdates = 0;
        arrange();
        act(command, row);
        const bool reset = command == Reset, emptied = outcome == "Reset Succeeded!\r\n";
        EXPECT_EQ(window.events,
                  (command == Remove // Remove writes after the touch
                       ? QStringList{kStatusTouch, kStatusClear, outcome}
                       : QStringList{kStatusTouch, kTouchMessage, outcome, kStatusClear}));
        EXPECT_EQ(touches, QStringList{kTouched + (reset ? "|reset off" : "")});
        EXPECT_TRUE(window.isControlEnabled(ControlId::Reset));
        EXPECT_EQ(window.isControlEnabled(ControlId::GetOtp), !emptied);
        EXPECT_EQ(window.rows.size(), emptied ? 0 : 3);
        EXPECT_EQ(key.storedSerials().size(), emptied ? 0u : 3u);
        EXPECT_EQ(window.pinButtonUpdates, reset ? 1 : 0);
    }
}

TEST_F(TokenButtonsTest, SetEnterSendsTheChoiceOrNothing)
{
    // checked, closing button, key status, flag sent (-1: nothing)
    using Case = std::tuple<bool, QString, uint32_t, int>;
    for (const auto& [check, close, keyStatus, flag] :
         {Case{true, "saveButton", VN_OK, 1}, Case{false, "saveButton", VN_OK, 0},
          Case{false, "cancelButton", VN_OK, -1}, Case{true, "saveButton", VN_ERR_NO_DEVICE, 1}}) {
        SCOPED_TRACE(close.toStdString() + std::to_string(flag));
        if (keyStatus != VN_OK)
            key.failNext(DeviceCall::OtpSetValueWithEnter, keyStatus);
        bool startedChecked = false;
        modals.arm([&](QWidget* dialog) {
            auto* box = dialog->findChild<QCheckBox*>("appendEnterCheck");
            startedChecked = box->isChecked();
            box->setChecked(check);
            perform(dialog, {close});
        });
        act(OnSetEnter, -1);
        EXPECT_TRUE(startedChecked);
        const auto sent = key.callsOf(DeviceCall::OtpSetValueWithEnter);
        EXPECT_EQ(sent.empty() ? -1 : int{sent[0].flag}, flag);
        const QString line = keyStatus == VN_OK ? "Set C/R succeeded!\r\n"
                                                : "Failed to set C/R (error = 0x80564E02)\r\n";
        EXPECT_EQ(window.events, flag < 0 ? QStringList{} : QStringList{line});
    }
}

} // namespace
