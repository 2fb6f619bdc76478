// The main window's token commands against the in-process virtual key, seen
// through a window without widgets: the exact texts in the Messages panel and
// on the status line, what reached the key, and what the user saw while the
// key waited for a touch.

#include "tokens/TokenOperations.h"

#include "ModalDriver.h"
#include "OtpReference.h"
#include "TestMainWindow.h"
#include "TouchWatchDevice.h"
#include "support/ScriptedDevice.h"
#include "support/VirtualKeyDevice.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

#include <gtest/gtest.h>
#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/ringbuffer_sink.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

const QString kTouchStatus = QStringLiteral("Please touch the key...");
const QString kTouchMessage = QStringLiteral("Please touch the key!...\r\n");
const QString kStale = QStringLiteral(
    "The token list is out of date. Please click Refresh and select the token again.\r\n");

enum class Command { GetOtp, Remove };

void run(Command command, MainWindowPort& window)
{
    if (command == Command::GetOtp)
        OnBnClickedGetOTP(window);
    else
        OnBnClickedRemovetoken(window);
}

const char* nameOf(Command command)
{
    return command == Command::GetOtp ? "OnBnClickedGetOTP" : "OnBnClickedRemovetoken";
}

OtpTokenRecord token(const std::string& serial, uint32_t type, const std::string& seed,
                     uint32_t hash = VN_HASH_SHA1, uint32_t digits = 6, uint32_t interval = 30)
{
    OtpTokenRecord r{};
    r.slot = VN_SLOT_ALL;
    r.type = type;
    r.hash = hash;
    r.digits = digits;
    r.interval = interval;
    std::strncpy(r.serial, serial.c_str(), sizeof r.serial - 1);
    std::memcpy(r.seed, seed.data(), seed.size());
    r.seedLength = static_cast<uint32_t>(seed.size());
    return r;
}

// Every command runs twice: against the in-process virtual key, and against
// the shipped libVN_Manager.so on the same key files, which is what the
// program links.
enum class Backend { InProcess, LinkedLibrary };

class TokenOperationsTest : public ::testing::TestWithParam<Backend>
{
protected:
    void SetUp() override
    {
        // The library looks for its keys here at every call.
        ASSERT_EQ(::setenv("VN_KEY_DIR", key.keyDir().c_str(), 1), 0);
        m_log = std::make_shared<spdlog::sinks::ringbuffer_sink_mt>(16);
        // The bare message, without time stamp or line end, to compare whole lines.
        m_log->set_formatter(std::make_unique<spdlog::pattern_formatter>(
            "%v", spdlog::pattern_time_type::local, ""));
        spdlog::set_default_logger(std::make_shared<spdlog::logger>("test", m_log));
        // Any dialog nobody asked for is closed and counted.
        modals.arm([](QWidget* dialog) { dialog->close(); });
        window.setControlEnabled(ControlId::GetOtp, true);
        window.setControlEnabled(ControlId::Reset, true);
    }
    void TearDown() override
    {
        modals.disarm();
        // The wait cursor must never outlive a command.
        EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    }

    // Programs tokens straight into the key and shows them in the list.
    void program(std::initializer_list<OtpTokenRecord> tokens)
    {
        for (const auto& t : tokens)
            ASSERT_EQ(key.OtpPersonalize(t, "", 0, 1), VN_OK) << t.serial;
        window.RefreshTokenList();
    }
    void programThree()
    {
        program({token("TK-A", VN_TYPE_HOTP, kRfcSeedSha1),
                 token("TK-B", VN_TYPE_TOTP, kRfcSeedSha1),
                 token("TK-C", VN_TYPE_HOTP, kRfcSeedSha256, VN_HASH_SHA256, 8)});
    }

    std::vector<std::string> logLines() const { return m_log->last_formatted(); }
    std::vector<std::string> storedSerials()
    {
        std::vector<std::string> out;
        for (const auto& t : key.storedTokens())
            out.push_back(fieldText(t.serial, sizeof t.serial));
        return out;
    }

    DeviceApi& backend()
    {
        if (GetParam() == Backend::LinkedLibrary)
            return linked;
        return key;
    }

    VirtualKeyDevice key;
    LinkedDeviceApi linked;
    ScriptedDevice device{backend()};
    // Outermost, so that it also sees the calls whose status is scripted.
    TouchWatchDevice watched{device, [this] { window.noteTouchWait(); }};
    TestMainWindow window{watched};
    ModalDriver modals;

private:
    std::shared_ptr<spdlog::sinks::ringbuffer_sink_mt> m_log;
};

TEST_P(TokenOperationsTest, WithoutASelectionOnlyAsksForOne)
{
    programThree();
    device.clearCalls();
    const std::vector<std::pair<Command, QString>> cases = {
        {Command::GetOtp, QStringLiteral("Please select a token\r\n")},
        {Command::Remove, QStringLiteral("Please select a token first\r\n")},
    };
    for (const auto& [command, text] : cases) {
        window.messages.clear();
        run(command, window);
        EXPECT_EQ(window.messages, QStringList{text}) << nameOf(command);
    }
    EXPECT_TRUE(window.statusHistory.isEmpty());
    EXPECT_TRUE(device.calls().empty());
    EXPECT_EQ(window.selectedToken, -1);
    EXPECT_EQ(modals.dialogsSeen(), 0);
}

// TOTP tokens get the local time as challenge and the key's value must be the
// RFC 6238 value for that time; the challenge length goes with it.
TEST_P(TokenOperationsTest, GetOtpOnTotpSendsLocalTimeAndShowsTheRfcValue)
{
    struct Case
    {
        uint32_t hash;
        std::string seed;
        uint32_t interval;
    };
    const std::vector<Case> cases = {{VN_HASH_SHA1, kRfcSeedSha1, 30},
                                     {VN_HASH_SHA256, kRfcSeedSha256, 60}};
    // The reference itself, on RFC 6238's own vectors at T = 59 s.
    ASSERT_EQ(referenceHotp(kRfcSeedSha1, 59 / 30, 8, false), "94287082");
    ASSERT_EQ(referenceHotp(kRfcSeedSha256, 59 / 30, 8, true), "46119246");

    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        const std::string serial = "TOTP-" + std::to_string(i);
        program({token(serial, VN_TYPE_TOTP, c.seed, c.hash, 8, c.interval)});
        window.selected = static_cast<int>(i);
        window.messages.clear();
        window.statusHistory.clear();
        device.clearCalls();

        const std::time_t before = std::time(nullptr);
        OnBnClickedGetOTP(window);
        const std::time_t after = std::time(nullptr);

        const auto calcs = device.callsOf(DeviceCall::OtpCalculate);
        ASSERT_EQ(calcs.size(), 1u) << serial;
        EXPECT_EQ(calcs[0].status, VN_OK);
        EXPECT_EQ(calcs[0].challengeLen, 19u);
        const QString challenge = QString::fromStdString(calcs[0].challenge);
        EXPECT_TRUE(QRegularExpression(QStringLiteral(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d$)"))
                        .match(challenge)
                        .hasMatch())
            << challenge.toStdString();
        const auto when = epochOfLocalTime(calcs[0].challenge);
        ASSERT_TRUE(when.has_value());
        EXPECT_GE(*when, before - 1);
        EXPECT_LE(*when, after);

        // The record goes to the key exactly as the key listed it.
        std::array<OtpTokenRecord, VN_MAX_TOKENS> listing{};
        ASSERT_EQ(key.OtpList(VN_SLOT_ALL, listing.data()), VN_OK);
        EXPECT_EQ(std::memcmp(&calcs[0].record, &listing[i], sizeof(OtpTokenRecord)), 0);

        const std::string expected = referenceHotp(
            c.seed, static_cast<uint64_t>(*when) / c.interval, 8, c.hash == VN_HASH_SHA256);
        EXPECT_EQ(window.messages,
                  (QStringList{kTouchMessage, "Get OTP succeeded!\r\n",
                               "TOTP = " + QString::fromStdString(expected) + "\r\n"}));
        EXPECT_EQ(window.statusHistory, (QStringList{kTouchStatus, QString()}));
        EXPECT_EQ(window.statusDuringTouch.last(), kTouchStatus);
        EXPECT_TRUE(window.busyDuringTouch.back());
        EXPECT_EQ(window.selectedToken, static_cast<int>(i));
    }
}

// HOTP tokens get no challenge; two clicks step through RFC 4226's counters.
TEST_P(TokenOperationsTest, GetOtpTwiceOnHotpGivesCountersZeroAndOne)
{
    program({token("HOTP-1", VN_TYPE_HOTP, kRfcSeedSha1)});
    window.selected = 0;
    OnBnClickedGetOTP(window);
    window.selected = 0;
    OnBnClickedGetOTP(window);

    // RFC 4226 Appendix D.
    EXPECT_EQ(window.messages,
              (QStringList{kTouchMessage, "Get OTP succeeded!\r\n", "HOTP = 755224\r\n",
                           kTouchMessage, "Get OTP succeeded!\r\n", "HOTP = 287082\r\n"}));
    for (const auto& calc : device.callsOf(DeviceCall::OtpCalculate)) {
        EXPECT_EQ(calc.challengeLen, 0u);
        EXPECT_TRUE(calc.challenge.empty());
        EXPECT_EQ(calc.access, "");
    }
    EXPECT_EQ(window.statusHistory,
              (QStringList{kTouchStatus, QString(), kTouchStatus, QString()}));
    EXPECT_EQ(key.hotpCounter("HOTP-1"), 2u);
}

TEST_P(TokenOperationsTest, PinIsAskedOnceThenCachedAndAgainAfterTheCacheIsCleared)
{
    programThree();
    // Non-ASCII on purpose: the key must receive the PIN's UTF-8 bytes.
    const QString pin = QStringLiteral("Gr\u00fc\u00dfe-42");
    ASSERT_EQ(key.OtpSetAccess(VN_SLOT_ALL, pin.toUtf8().constData(),
                               static_cast<uint32_t>(pin.toUtf8().size())),
              VN_OK);
    modals.arm([&](QWidget* dialog) {
        auto* edit = dialog->findChild<QLineEdit*>();
        auto* ok = dialog->findChild<QPushButton*>();
        ASSERT_TRUE(edit && ok);
        edit->setText(pin);
        ok->click();
    });

    window.selected = 0;
    OnBnClickedGetOTP(window);
    EXPECT_EQ(modals.dialogsSeen(), 1);
    EXPECT_EQ(window.cachedPin, pin);

    window.selected = 2;
    OnBnClickedGetOTP(window);
    window.selected = 1;
    OnBnClickedRemovetoken(window);
    EXPECT_EQ(modals.dialogsSeen(), 1);

    // Update PIN empties the cache when it closes; the next command asks again.
    window.cachedPin.clear();
    window.selected = 0;
    OnBnClickedGetOTP(window);
    EXPECT_EQ(modals.dialogsSeen(), 2);

    const std::string utf8 = pin.toUtf8().toStdString();
    for (auto call : {DeviceCall::OtpCalculate, DeviceCall::OtpDelete})
        for (const auto& c : device.callsOf(call)) {
            EXPECT_EQ(c.access, utf8);
            EXPECT_EQ(c.status, VN_OK);
        }
    EXPECT_EQ(device.count(DeviceCall::OtpCalculate), 3);
    EXPECT_EQ(storedSerials(), (std::vector<std::string>{"TK-A", "TK-C"}));
    for (const auto& line : logLines())
        EXPECT_EQ(line.find(utf8), std::string::npos) << "a PIN reached the log";
}

// A failed PIN query shows its reason on the status line and in the error log
// only; nothing is written to the Messages panel and the key is not asked.
TEST_P(TokenOperationsTest, PinQueryFailureReachesOnlyTheStatusLineAndTheLog)
{
    struct Case
    {
        Command command;
        bool keyAnswersHasAccess; // false: the "is a PIN set" question fails
        QString typed;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {Command::GetOtp, false, {}, "Failed to check if OTP is protected by PIN."},
        {Command::Remove, false, {}, "Failed to check if OTP is protected by PIN."},
        {Command::GetOtp, true, QStringLiteral("0000"), "PIN is incorrect."},
        {Command::Remove, true, QStringLiteral("0000"), "PIN is incorrect."},
    };
    programThree();
    ASSERT_EQ(key.OtpSetAccess(VN_SLOT_ALL, "2468", 4), VN_OK);
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(nameOf(c.command)) + ": " + c.reason);
        window.messages.clear();
        window.statusHistory.clear();
        device.clearCalls();
        if (!c.keyAnswersHasAccess)
            device.failNext(DeviceCall::OtpHasAccess, VN_ERR_STORAGE);
        modals.arm([&](QWidget* dialog) {
            dialog->findChild<QLineEdit*>()->setText(c.typed);
            dialog->findChild<QPushButton*>()->click();
        });
        window.selected = 1;

        run(c.command, window);

        EXPECT_TRUE(window.messages.isEmpty());
        EXPECT_EQ(window.statusHistory, QStringList{QString::fromStdString(c.reason)});
        ASSERT_FALSE(logLines().empty());
        EXPECT_EQ(logLines().back(), "[" + std::string(nameOf(c.command)) +
                                         "] Failed to query_pin_ifn. Error=" + c.reason);
        EXPECT_EQ(device.count(DeviceCall::OtpList), 0);
        EXPECT_EQ(device.count(DeviceCall::OtpCalculate), 0);
        EXPECT_EQ(device.count(DeviceCall::OtpDelete), 0);
        EXPECT_TRUE(window.cachedPin.isEmpty());
        EXPECT_EQ(window.rows.size(), 3u);
    }
}

TEST_P(TokenOperationsTest, ListingFailureInsideGetOtpOrRemoveWritesNothing)
{
    programThree();
    for (Command command : {Command::GetOtp, Command::Remove}) {
        SCOPED_TRACE(nameOf(command));
        device.clearCalls();
        device.failNext(DeviceCall::OtpList, VN_ERR_NO_DEVICE);
        window.selected = 1;
        run(command, window);
        EXPECT_TRUE(window.messages.isEmpty());
        EXPECT_TRUE(window.statusHistory.isEmpty());
        EXPECT_EQ(device.count(DeviceCall::OtpList), 1);
        EXPECT_EQ(device.count(DeviceCall::OtpCalculate), 0);
        EXPECT_EQ(device.count(DeviceCall::OtpDelete), 0);
        EXPECT_EQ(window.rows.size(), 3u);
    }
    EXPECT_EQ(storedSerials().size(), 3u);
}

TEST_P(TokenOperationsTest, RemovingTheMiddleRowThenActingOnTheFormerThirdRow)
{
    programThree();
    window.selected = 1;
    OnBnClickedRemovetoken(window);

    ASSERT_EQ(device.count(DeviceCall::OtpDelete), 1);
    const RecordedCall del = device.callsOf(DeviceCall::OtpDelete)[0];
    EXPECT_STREQ(del.record.serial, "TK-B");
    EXPECT_EQ(del.record.slot, VN_SLOT_ALL);
    EXPECT_EQ(window.messages, QStringList{"Token SN=TK-B removed\r\n"});
    EXPECT_EQ(window.statusHistory, (QStringList{kTouchStatus, QString()}));
    EXPECT_EQ(window.statusDuringTouch, QStringList{kTouchStatus});
    EXPECT_EQ(window.serialColumn(), (QStringList{"TK-A", "TK-C"}));
    // The list is not read again: listedSerials still names the removed token.
    EXPECT_EQ(window.listedSerials, (std::vector<std::string>{"TK-A", "TK-B", "TK-C"}));

    // The former third row is row 1 now, and so is its record on the key.
    window.messages.clear();
    window.selected = 1;
    OnBnClickedGetOTP(window);
    ASSERT_EQ(device.count(DeviceCall::OtpCalculate), 1);
    EXPECT_STREQ(device.callsOf(DeviceCall::OtpCalculate)[0].record.serial, "TK-C");
    EXPECT_EQ(window.messages.value(2),
              "HOTP = " + QString::fromStdString(referenceHotp(kRfcSeedSha256, 0, 8, true)) +
                  "\r\n");

    window.messages.clear();
    window.selected = 1;
    OnBnClickedRemovetoken(window);
    EXPECT_EQ(window.messages, QStringList{"Token SN=TK-C removed\r\n"});
    EXPECT_EQ(storedSerials(), std::vector<std::string>{"TK-A"});
    EXPECT_EQ(window.serialColumn(), QStringList{"TK-A"});
}

TEST_P(TokenOperationsTest, KeyFailuresOfCalculateAndDeleteAreReportedAndClearTheStatusLine)
{
    programThree();

    // A key nobody touches answers with its timeout status.
    key.setTouchNever(50);
    window.selected = 0;
    OnBnClickedGetOTP(window);
    EXPECT_EQ(window.messages,
              (QStringList{kTouchMessage, "Failed to get OTP (error code = 0x800A6984)\r\n"}));
    EXPECT_EQ(window.statusHistory, (QStringList{kTouchStatus, QString()}));

    window.messages.clear();
    window.statusHistory.clear();
    device.failNext(DeviceCall::OtpDelete, VN_ERR_WRONG_ACCESS);
    window.selected = 2;
    OnBnClickedRemovetoken(window);
    EXPECT_EQ(window.messages,
              QStringList{"Failed to delete the OTP token SN=TK-C (error code = 0x80564E40)\r\n"});
    EXPECT_EQ(window.statusHistory, (QStringList{kTouchStatus, QString()}));
    EXPECT_EQ(window.rows.size(), 3u);
    EXPECT_TRUE(std::all_of(window.busyDuringTouch.begin(), window.busyDuringTouch.end(),
                            [](bool busy) { return busy; }));
}

TEST_P(TokenOperationsTest, ResetSucceedsOrFailsWithTheButtonsAfterIt)
{
    struct Case
    {
        std::optional<uint32_t> injected;
        QString message;
        bool rowsLeft;
    };
    const std::vector<Case> cases = {
        {VN_ERR_TOUCH_TIMEOUT, "Failed to reset the device (error code = 0x800A6984)\r\n", true},
        {std::nullopt, "Reset Succeeded!\r\n", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message.toStdString());
        ASSERT_EQ(key.OtpReset(), VN_OK);
        programThree();
        window.messages.clear();
        window.statusHistory.clear();
        window.pinButtonUpdates = 0;
        window.resetEnabledDuringTouch.clear();
        if (c.injected)
            device.failNext(DeviceCall::OtpReset, *c.injected);

        OnBnClickedReset(window);

        EXPECT_EQ(window.messages, (QStringList{kTouchMessage, c.message}));
        EXPECT_EQ(window.statusHistory, (QStringList{kTouchStatus, QString()}));
        EXPECT_EQ(window.resetEnabledDuringTouch, std::vector<bool>{false});
        EXPECT_TRUE(window.busyDuringTouch.back());
        EXPECT_TRUE(window.isControlEnabled(ControlId::Reset));
        EXPECT_EQ(window.isControlEnabled(ControlId::GetOtp), c.rowsLeft);
        EXPECT_EQ(window.rows.empty(), !c.rowsLeft);
        EXPECT_EQ(window.pinButtonUpdates, 1);
        EXPECT_EQ(window.listedSerials.size(), 3u);
        EXPECT_EQ(storedSerials().empty(), !c.rowsLeft);
    }
}

TEST_P(TokenOperationsTest, SetEnterSendsTheChoiceOrNothing)
{
    enum class Close { Save, Cancel, Escape, CloseBox };
    struct Case
    {
        const char* name;
        bool check;
        Close close;
        std::optional<uint32_t> injected;
        std::optional<uint8_t> sent;
        QStringList messages;
    };
    const std::vector<Case> cases = {
        {"checked", true, Close::Save, {}, 1, {"Set C/R succeeded!\r\n"}},
        {"unchecked", false, Close::Save, {}, 0, {"Set C/R succeeded!\r\n"}},
        {"cancel", false, Close::Cancel, {}, {}, {}},
        {"escape", false, Close::Escape, {}, {}, {}},
        {"close box", true, Close::CloseBox, {}, {}, {}},
        {"key gone",
         true,
         Close::Save,
         VN_ERR_NO_DEVICE,
         1,
         {"Failed to set C/R (error = 0x80564E02)\r\n"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        window.messages.clear();
        device.clearCalls();
        if (c.injected)
            device.failNext(DeviceCall::OtpSetValueWithEnter, *c.injected);
        const bool flagBefore = key.enterFlag();
        bool startedChecked = false;
        QStringList accessibleNames;
        modals.arm([&](QWidget* dialog) {
            auto* box = dialog->findChild<QCheckBox*>(QStringLiteral("appendEnterCheck"));
            auto* save = dialog->findChild<QPushButton*>(QStringLiteral("saveButton"));
            auto* cancel = dialog->findChild<QPushButton*>(QStringLiteral("cancelButton"));
            ASSERT_TRUE(box && save && cancel);
            EXPECT_EQ(dialog->windowTitle(), "Set ENTER");
            startedChecked = box->isChecked();
            accessibleNames = {box->accessibleName(), save->accessibleName(),
                               cancel->accessibleName()};
            box->setChecked(c.check);
            switch (c.close) {
            case Close::Save:
                save->click();
                break;
            case Close::Cancel:
                cancel->click();
                break;
            case Close::Escape:
                QTest::keyClick(dialog, Qt::Key_Escape);
                break;
            case Close::CloseBox:
                dialog->close();
                break;
            }
        });

        OnSetEnter(window);

        EXPECT_EQ(modals.dialogsSeen(), 1);
        EXPECT_TRUE(startedChecked);
        EXPECT_EQ(accessibleNames, (QStringList{"Append ENTER to OTP", "Save", "Cancel"}));
        const auto sent = device.callsOf(DeviceCall::OtpSetValueWithEnter);
        if (c.sent) {
            ASSERT_EQ(sent.size(), 1u);
            EXPECT_EQ(sent[0].flag, *c.sent);
        } else {
            EXPECT_TRUE(sent.empty());
        }
        if (c.sent && !c.injected)
            EXPECT_EQ(key.enterFlag(), *c.sent == 1);
        else
            EXPECT_EQ(key.enterFlag(), flagBefore);
        EXPECT_EQ(window.messages, c.messages);
        // Setting the flag does not wait for a touch and says nothing on the status line.
        EXPECT_TRUE(window.statusHistory.isEmpty());
    }
}

// A key changed behind the list (a token removed by another program, another
// key plugged in) must not turn a click on one token into an action on another.
TEST_P(TokenOperationsTest, StaleListGuardActsOnNoTokenTheUserDidNotSelect)
{
    struct Case
    {
        Command command;
        const char* removedBehind; // token deleted without this window knowing
        int row;
    };
    const std::vector<Case> cases = {
        {Command::Remove, "TK-B", 1}, // row 1 now names TK-C on the key
        {Command::GetOtp, "TK-B", 1},
        {Command::Remove, "TK-C", 2}, // the key has no record at row 2
        {Command::GetOtp, "TK-C", 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(nameOf(c.command)) + " after " + c.removedBehind);
        ASSERT_EQ(key.OtpReset(), VN_OK);
        programThree();
        ASSERT_EQ(key.OtpDelete(token(c.removedBehind, VN_TYPE_HOTP, ""), "", 0), VN_OK);
        const auto onKey = storedSerials();
        window.messages.clear();
        window.statusHistory.clear();
        device.clearCalls();
        window.selected = c.row;

        run(c.command, window);

        EXPECT_EQ(window.messages, QStringList{kStale});
        EXPECT_TRUE(window.statusHistory.isEmpty());
        EXPECT_EQ(device.count(DeviceCall::OtpCalculate), 0);
        EXPECT_EQ(device.count(DeviceCall::OtpDelete), 0);
        EXPECT_EQ(window.serialColumn(), (QStringList{"TK-A", "TK-B", "TK-C"}));
        EXPECT_EQ(storedSerials(), onKey);
    }
}

INSTANTIATE_TEST_SUITE_P(Backends, TokenOperationsTest,
                         ::testing::Values(Backend::InProcess, Backend::LinkedLibrary),
                         [](const auto& info) {
                             return info.param == Backend::InProcess ? "InProcessKey"
                                                                     : "LinkedLibrary";
                         });

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
