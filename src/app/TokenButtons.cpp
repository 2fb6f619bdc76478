#include "app/TokenButtons.h"

#include "pin/QueryPin.h"
#include "tokens/CSetEnterDlg.h"
#include "tokens/TokenCommands.h"
#include "ui/AnsiText.h"
#include "ui/BusyCursor.h"

#include <spdlog/spdlog.h>

using namespace otp::core;
using namespace otp::device;
using namespace otp::pskc;
using namespace otp::ui;
using namespace otp::pin;
using namespace otp::tokens;

namespace otp::app {

namespace {

const QString kTouchStatus = QStringLiteral("Please touch the key...");
const QString kTouchMessage = QStringLiteral("Please touch the key!...\r\n");
const QString kStaleListMessage =
    QStringLiteral("The token list is out of date. Please click Refresh and select the token "
                   "again.\r\n");

// Asks query_pin_ifn for the access text, handing it what we remember. On
// success the answer becomes the remembered PIN; on failure the reason goes to
// the error log (under the calling handler's name) and to the status line,
// and the handler must stop. The Messages panel is left alone.
bool obtainAccessText(MainWindowPort& window, KeySession& key, const char* handler)
{
    WindowState& state = window.state();
    auto pin = query_pin_ifn(key, window.dialogParent(), state.cachedPin.toUtf8().toStdString());
    if (!pin) {
        spdlog::error("[{}] Failed to query_pin_ifn. Error={}", handler, pin.error().detail);
        window.setStatusText(QString::fromStdString(pin.error().detail));
        return false;
    }
    state.cachedPin = QString::fromStdString(*pin);
    return true;
}

// The record behind the row, from a fresh listing. A stale list is said in
// the Messages panel; a failed listing stays silent here, since listing
// failures are reported by the token list's own refresh.
std::optional<ListedToken> freshRecord(MainWindowPort& window, KeySession& key, int row,
                                       const QString& shownSerial)
{
    auto token = listed_token_at(key, row, toAnsi(shownSerial));
    if (token)
        return std::move(*token);
    if (token.error().fault == Fault::StaleList)
        window.appendMessage(kStaleListMessage);
    return std::nullopt;
}

} // namespace

void OnBnClickedGetOTP(MainWindowPort& window)
{
    const int row = window.selectedTokenRow();
    if (row < 0) {
        window.appendMessage(QStringLiteral("Please select a token\r\n"));
        return;
    }
    // Read before the PIN prompt: a hot-plug refresh during it rebuilds the list.
    const QString shownSerial = window.tokenCell(row, 0);
    KeySession key(window.device());
    if (!obtainAccessText(window, key, "OnBnClickedGetOTP"))
        return;

    BusyCursor busy;
    const auto record = freshRecord(window, key, row, shownSerial);
    if (!record)
        return;
    // The time is taken now, before the touch prompt: the OTP is the one for
    // the moment the user asked, however long the key then waits.
    const std::time_t asked = window.now();

    window.setStatusText(kTouchStatus);
    window.appendMessage(kTouchMessage);

    const auto otp = key.calculate(*record, asked, window.state().cachedPin.toUtf8().toStdString());
    if (otp) {
        window.appendMessage(QStringLiteral("Get OTP succeeded!\r\n"));
        window.appendMessage(QString::fromLatin1(otp_label(*record)) + fromAnsi(*otp) +
                             QStringLiteral("\r\n"));
    } else {
        window.appendMessage(QStringLiteral("Failed to get OTP (error code = %1)\r\n")
                                 .arg(statusHex(otp.error().status)));
    }
    window.setStatusText(QString());
}

void OnBnClickedRemovetoken(MainWindowPort& window)
{
    const int row = window.selectedTokenRow();
    if (row < 0) {
        window.appendMessage(QStringLiteral("Please select a token first\r\n"));
        return;
    }
    // Read before the PIN prompt: a hot-plug refresh during it rebuilds the list.
    const QString shownSerial = window.tokenCell(row, 0);
    KeySession key(window.device());
    if (!obtainAccessText(window, key, "OnBnClickedRemovetoken"))
        return;

    BusyCursor busy;
    const auto record = freshRecord(window, key, row, shownSerial);
    if (!record)
        return;

    window.setStatusText(kTouchStatus);
    const auto removed = key.remove(*record, window.state().cachedPin.toUtf8().toStdString());
    window.setStatusText(QString());

    if (removed) {
        // Only the row goes; the list is not read again and listedSerials keeps
        // the entry until the next refresh.
        window.removeTokenRow(row);
        window.appendMessage(QStringLiteral("Token SN=%1 removed\r\n").arg(shownSerial));
    } else {
        window.appendMessage(
            QStringLiteral("Failed to delete the OTP token SN=%1 (error code = %2)\r\n")
                .arg(fromAnsi(record->serial), statusHex(removed.error().status)));
    }
}

void OnBnClickedReset(MainWindowPort& window)
{
    BusyCursor busy;
    // A second click while the key waits for its touch must not queue a second reset.
    window.setControlEnabled(ControlId::Reset, false);
    window.setStatusText(kTouchStatus);
    window.appendMessage(kTouchMessage);

    KeySession key(window.device());
    const auto reset = key.reset();

    QString message;
    if (reset) {
        message = QStringLiteral("Reset Succeeded!\r\n");
        // The key is empty now; listedSerials keeps its entries until the next refresh.
        window.clearTokenRows();
        window.setControlEnabled(ControlId::GetOtp, false);
    } else {
        message = QStringLiteral("Failed to reset the device (error code = %1)\r\n")
                      .arg(statusHex(reset.error().status));
    }
    window.appendMessage(message);
    window.setStatusText(QString());
    window.setControlEnabled(ControlId::Reset, true);

    // A reset also erases the access code and the PIN record.
    window.updatePinButton();
}

void OnSetEnter(MainWindowPort& window)
{
    int32_t choice = 0;
    {
        CSetEnterDlg dialog(window.dialogParent());
        if (dialog.exec() != CSetEnterDlg::kSave)
            return;
        choice = dialog.enterChoice();
    }
    SetEnterFlag(window, choice != 0);
}

void SetEnterFlag(MainWindowPort& window, bool appendEnter)
{
    OpResult<void> set;
    {
        BusyCursor busy;
        KeySession key(window.device());
        set = key.set_enter(appendEnter);
    }
    window.appendMessage(enterResultLine(set));
}

QString enterResultLine(const OpResult<void>& set)
{
    if (set)
        return QStringLiteral("Set C/R succeeded!\r\n");
    return QStringLiteral("Failed to set C/R (error = %1)\r\n").arg(statusHex(set.error().status));
}

} // namespace otp::app
