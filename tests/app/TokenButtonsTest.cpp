// The token commands against the virtual key, through a window without widgets.

#include "tokens/TokenOperations.h"
#include "device/AnsiText.h"

#include "support/FakeMainWindow.h"
#include "support/ModalDriver.h"
#include "support/OtpReference.h"
#include "support/ScriptedDevice.h"
#include "support/VirtualKeyDevice.h"

#include <QApplication>
#include <QCheckBox>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <regex>

namespace {

const QString kTouchMessage = QStringLiteral("Please touch the key!...\r\n");
const QString kStatusTouch = QStringLiteral("<status:Please touch the key...>");
const QString kStatusClear = QStringLiteral("<status:>");
const QString kTouched = QStringLiteral("Please touch the key...|busy");
const QString kStale = QStringLiteral(
    "The token list is out of date. Please click Refresh and select the token again.\r\n");

using Command = void (*)(MainWindowPort&);
const Command GetOtp = OnBnClickedGetOTP, Remove = OnBnClickedRemovetoken, Reset = OnBnClickedReset,
              SetEnter = OnSetEnter;

enum class Backend { InProcess, LinkedLibrary };

class TokenOperationsTest : public ::testing::TestWithParam<Backend>
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(::setenv("VN_KEY_DIR", key.keyDir().c_str(), 1), 0);
        modals.arm([](QWidget* dialog) { dialog->close(); });
        // What the window shows while the key waits for a touch.
        device.beforeCall = [this](DeviceCall call) {
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
    void act(Command command, int row)
    {
        window.clearRecords();
        device.clearCalls();
        touches.clear();
        window.selected = row;
        command(window);
    }
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
    FakeMainWindow window{device};
    ModalDriver modals;
};

// TOTP from the local time sent as the 19-character challenge, HOTP from the
// counter, 0 then 1, without a challenge.
TEST_P(TokenOperationsTest, GetOtpShowsTheRfcValue)
{
    programThree();
    for (int row : {1, 2, 0, 0}) {
        SCOPED_TRACE(row);
        const std::time_t before = std::time(nullptr);
        act(GetOtp, row);
        const auto calcs = device.callsOf(DeviceCall::OtpCalculate);
        ASSERT_EQ(calcs.size(), 1u);
        EXPECT_STREQ(calcs[0].record.serial, window.serialColumn().value(row).toLatin1().data());
        EXPECT_EQ(touches, QStringList{kTouched});
        const std::string& challenge = calcs[0].challenge;
        QString label = "HOTP = ";
        std::string value = key.hotpCounter("TK-A") == 1 ? "755224" : "287082";
        if (row == 0) {
            EXPECT_EQ(calcs[0].challengeLen, 0u);
        } else {
            EXPECT_EQ(calcs[0].challengeLen, 19u);
            EXPECT_TRUE(
                std::regex_match(challenge, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)")))
                << challenge;
            const auto when = epochOfLocalTime(challenge);
            ASSERT_TRUE(when.has_value());
            EXPECT_GE(*when, before - 1);
            EXPECT_LE(*when, std::time(nullptr));
            const bool sha256 = row == 2;
            label = "TOTP = ";
            value = referenceOtp(sha256 ? kRfcSeedSha256 : kRfcSeedSha1,
                                 static_cast<uint64_t>(*when) / (sha256 ? 60 : 30), 8, sha256);
        }
        EXPECT_EQ(window.events,
                  (QStringList{kStatusTouch, kTouchMessage, "Get OTP succeeded!\r\n",
                               label + QString::fromStdString(value) + "\r\n", kStatusClear}));
    }
    EXPECT_EQ(key.hotpCounter("TK-A"), 2u);
}

// Commands that must stop before the key computes or deletes: the exact
// lines, and nothing changed in the list or on the key.
TEST_P(TokenOperationsTest, CommandsStoppedBeforeTheKeyChangeNothing)
{
    struct Case
    {
        Command command;
        int row;
        std::function<void()> arrange;
        QStringList events;
    };
    const auto deleted = [this](const char* serial) {
        return [this, serial] {
            ASSERT_EQ(key.OtpDelete(tokenRecord(serial, VN_TYPE_HOTP, ""), "", 0), VN_OK);
        };
    };
    const std::vector<Case> cases = {
        {GetOtp, -1, [] {}, {"Please select a token\r\n"}},
        {Remove, -1, [] {}, {"Please select a token first\r\n"}},
        {GetOtp,
         1,
         [this] { device.failNext(DeviceCall::OtpHasAccess, VN_ERR_STORAGE); },
         {"<status:Failed to check if OTP is protected by PIN.>"}},
        {Remove,
         1,
         [this] { ASSERT_EQ(key.OtpSetAccess(VN_SLOT_ALL, "2468", 4), VN_OK); },
         {"<status:PIN is incorrect.>"}},
        {GetOtp, 1, [this] { device.failNext(DeviceCall::OtpList, VN_ERR_NO_DEVICE); }, {}},
        {GetOtp, 1, deleted("TK-B"), {kStale}}, // row 1 names TK-C on the key now
        {Remove, 1, deleted("TK-B"), {kStale}},
        {Remove, 2, deleted("TK-C"), {kStale}}, // row 2 names nothing
    };
    modals.arm([](QWidget* d) { perform(d, {"pinEdit=0000", "okButton"}); });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.events.value(0).toStdString());
        ASSERT_EQ(key.OtpReset(), VN_OK);
        programThree();
        c.arrange();
        const auto onKey = storedSerials();
        act(c.command, c.row);
        EXPECT_EQ(window.events, c.events);
        EXPECT_EQ(device.count(DeviceCall::OtpCalculate) + device.count(DeviceCall::OtpDelete), 0);
        EXPECT_EQ(window.serialColumn(), (QStringList{"TK-A", "TK-B", "TK-C"}));
        EXPECT_EQ(storedSerials(), onKey);
    }
}

// A hot-plug refresh during the PIN prompt moves another token into the
// clicked row: the command compares with the token the user clicked.
TEST_P(TokenOperationsTest, ARefreshDuringThePinPromptLeavesTheListStale)
{
    for (Command command : {GetOtp, Remove}) {
        ASSERT_EQ(key.OtpReset(), VN_OK);
        programThree();
        ASSERT_EQ(key.OtpSetAccess(VN_SLOT_ALL, "2468", 4), VN_OK);
        window.cachedPin.clear();
        modals.arm([this](QWidget* d) {
            ASSERT_EQ(key.OtpDelete(tokenRecord("TK-A", VN_TYPE_HOTP, ""), "2468", 4), VN_OK);
            window.RefreshTokenList();
            perform(d, {"pinEdit=2468", "okButton"});
        });
        act(command, 0);
        EXPECT_EQ(window.events.last(), kStale);
        EXPECT_EQ(storedSerials(), (std::vector<std::string>{"TK-B", "TK-C"}));
        EXPECT_EQ(device.count(DeviceCall::OtpCalculate) + device.count(DeviceCall::OtpDelete), 0);
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
    auto sentSerial = [&](DeviceCall call) {
        const auto calls = device.callsOf(call);
        EXPECT_EQ(calls.size(), 1u);
        return calls.empty() || calls[0].access != utf8 ? "<none>"
                                                        : std::string(calls[0].record.serial);
    };

    act(Remove, 1);
    EXPECT_EQ(sentSerial(DeviceCall::OtpDelete), "TK-B");
    EXPECT_EQ(window.events,
              (QStringList{kStatusTouch, kStatusClear, "Token SN=TK-B removed\r\n"}));
    EXPECT_EQ(window.serialColumn(), (QStringList{"TK-A", "TK-C"}));
    act(GetOtp, 1);
    EXPECT_EQ(sentSerial(DeviceCall::OtpCalculate), "TK-C");
    EXPECT_TRUE(window.messages.value(2).startsWith("TOTP = "));
    act(Remove, 1);
    EXPECT_EQ(sentSerial(DeviceCall::OtpDelete), "TK-C");
    EXPECT_EQ(storedSerials(), std::vector<std::string>{"TK-A"});
    EXPECT_EQ(modals.dialogsSeen(), 1);
}

// Commands that reached the key: the lines, and the rows and buttons left behind.
TEST_P(TokenOperationsTest, KeyFailuresAndResetLeaveTheRightRowsAndButtons)
{
    struct Case
    {
        Command command;
        int row;
        std::function<void()> arrange;
        QString outcome;
    };
    const std::vector<Case> cases = {
        {GetOtp, 0, [this] { key.setTouchNever(50); },
         "Failed to get OTP (error code = 0x800A6984)\r\n"},
        {Remove, 2, [this] { device.failNext(DeviceCall::OtpDelete, VN_ERR_WRONG_ACCESS); },
         "Failed to delete the OTP token SN=TK-C (error code = 0x80564E40)\r\n"},
        {Reset, -1, [this] { device.failNext(DeviceCall::OtpReset, VN_ERR_TOUCH_TIMEOUT); },
         "Failed to reset the device (error code = 0x800A6984)\r\n"},
        {Reset, -1, [] {}, "Reset Succeeded!\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.outcome.toStdString());
        key.setTouchAuto();
        ASSERT_EQ(key.OtpReset(), VN_OK);
        programThree();
        window.pinButtonUpdates = 0;
        c.arrange();
        act(c.command, c.row);
        const bool reset = c.command == Reset, emptied = c.outcome == "Reset Succeeded!\r\n";
        EXPECT_EQ(window.events,
                  (c.command == Remove // Remove writes after the touch
                       ? QStringList{kStatusTouch, kStatusClear, c.outcome}
                       : QStringList{kStatusTouch, kTouchMessage, c.outcome, kStatusClear}));
        EXPECT_EQ(touches, QStringList{kTouched + (reset ? "|reset off" : "")});
        EXPECT_TRUE(window.isControlEnabled(ControlId::Reset));
        EXPECT_EQ(window.isControlEnabled(ControlId::GetOtp), !emptied);
        EXPECT_EQ(window.rows.size(), emptied ? 0u : 3u);
        EXPECT_EQ(storedSerials().size(), emptied ? 0u : 3u);
        EXPECT_EQ(window.pinButtonUpdates, reset ? 1 : 0);
    }
}

TEST_P(TokenOperationsTest, SetEnterSendsTheChoiceOrNothing)
{
    // checked, closing button, key status, flag sent (-1: nothing)
    using Case = std::tuple<bool, QString, uint32_t, int>;
    for (const auto& [check, close, keyStatus, flag] :
         {Case{true, "saveButton", VN_OK, 1}, Case{false, "saveButton", VN_OK, 0},
          Case{false, "cancelButton", VN_OK, -1}, Case{true, "saveButton", VN_ERR_NO_DEVICE, 1}}) {
        SCOPED_TRACE(close.toStdString() + std::to_string(flag));
        if (keyStatus != VN_OK)
            device.failNext(DeviceCall::OtpSetValueWithEnter, keyStatus);
        bool startedChecked = false;
        modals.arm([&](QWidget* dialog) {
            auto* box = dialog->findChild<QCheckBox*>("appendEnterCheck");
            startedChecked = box->isChecked();
            box->setChecked(check);
            perform(dialog, {close});
        });
        act(SetEnter, -1);
        EXPECT_TRUE(startedChecked);
        const auto sent = device.callsOf(DeviceCall::OtpSetValueWithEnter);
        EXPECT_EQ(sent.empty() ? -1 : int{sent[0].flag}, flag);
        const QString line = keyStatus == VN_OK ? "Set C/R succeeded!\r\n"
                                                : "Failed to set C/R (error = 0x80564E02)\r\n";
        EXPECT_EQ(window.events, flag < 0 ? QStringList{} : QStringList{line});
    }
}

INSTANTIATE_TEST_SUITE_P(Backends, TokenOperationsTest,
                         ::testing::Values(Backend::InProcess, Backend::LinkedLibrary),
                         [](const auto& info) {
                             return info.param == Backend::InProcess ? "InProcessKey"
                                                                     : "LinkedLibrary";
                         });

} // namespace
