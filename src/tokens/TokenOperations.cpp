#include "tokens/TokenOperations.h"

#include "device/AnsiText.h"
#include "pin/HwModeProbe.h"
#include "pin/QueryPin.h"
#include "tokens/CSetEnterDlg.h"
#include "tokens/TokenCommands.h"
#include "ui/BusyCursor.h"

#include <spdlog/spdlog.h>

#include <array>
#include <ctime>
#include <expected>
#include <optional>

namespace {

const QString kTouchStatus = QStringLiteral("Please touch the key...");
const QString kTouchMessage = QStringLiteral("Please touch the key!...\r\n");

// A row index only names a token while the key still holds what the last
// refresh showed. When someone changed the key behind the list, acting on the
// record at that position would compute from, or delete, a token the user
// never selected.
const QString kStaleListMessage =
    QStringLiteral("The token list is out of date. Please click Refresh and select the token "
                   "again.\r\n");

using TokenListing = std::array<OtpTokenRecord, VN_MAX_TOKENS>;

QString serialText(const OtpTokenRecord& record)
{
    return fromAnsi(fieldText(record.serial, sizeof record.serial));
}

// Asks query_pin_ifn for the access text, handing it what we remember. On
// success the answer becomes the remembered PIN; on failure the reason goes to
// the error log (through logFailure, which names the calling handler) and to
// the status line, and the handler must stop. The Messages panel is left alone.
template <class LogFailure> bool obtainAccessText(MainWindowPort& window, LogFailure logFailure)
{
    const std::string cached = window.cachedPin.toUtf8().toStdString();
    auto pin = query_pin_ifn(window.device(), window.dialogParent(), cached);
    if (!pin) {
        logFailure(pin.error().message);
        window.SetStatusText(QString::fromUtf8(pin.error().message));
        return false;
    }
    window.cachedPin = QString::fromUtf8(*pin);
    return true;
}

enum class LookupFailure { ListingFailed, StaleList };

// The record behind a row of the list, from a fresh listing. Row i of the list
// showed record i of the listing at the last refresh; the serial shown in the
// row proves that this still holds.
std::expected<OtpTokenRecord, LookupFailure> freshRecordAt(DeviceApi& device, int row,
                                                           const QString& shownSerial)
{
    TokenListing listing{};
    if (device.OtpList(VN_SLOT_ALL, listing.data()) != VN_OK)
        return std::unexpected(LookupFailure::ListingFailed);
    if (row < 0 || row >= VN_MAX_TOKENS)
        return std::unexpected(LookupFailure::StaleList);
    // The listing ends at its first empty serial; records behind it were never rows.
    for (int i = 0; i <= row; ++i)
        if (listing[static_cast<std::size_t>(i)].serial[0] == '\0')
            return std::unexpected(LookupFailure::StaleList);
    const OtpTokenRecord& record = listing[static_cast<std::size_t>(row)];
    if (serialText(record) != shownSerial)
        return std::unexpected(LookupFailure::StaleList);
    return record;
}

} // namespace

void OnBnClickedGetOTP(MainWindowPort& window)
{
    const int row = window.selectedTokenRow();
    if (row < 0) {
        window.AppendMessage(QStringLiteral("Please select a token\r\n"));
        return;
    }
    // Read before the PIN prompt: a hot-plug refresh during it rebuilds the list.
    const QString shownSerial = window.tokenCell(row, 0);
    if (!obtainAccessText(window, [](const std::string& reason) {
            spdlog::error("[OnBnClickedGetOTP] Failed to query_pin_ifn. Error={}", reason);
        }))
        return;
    window.selectedToken = row;

    BusyCursor busy;
    DeviceApi& device = window.device();
    const auto record = freshRecordAt(device, row, shownSerial);
    if (!record) {
        if (record.error() == LookupFailure::StaleList)
            window.AppendMessage(kStaleListMessage);
        // A failed listing stays silent here: listing failures are reported
        // by the token list's own refresh.
        return;
    }

    window.SetStatusText(kTouchStatus);
    window.AppendMessage(kTouchMessage);

    // The PIN mode is probed before every calculation, like the other calls
    // that pass an access text; the answer does not change what follows.
    (void)is_hwmaccess_supported(device);

    const std::string access = window.cachedPin.toUtf8().toStdString();
    const auto otp = compute_otp(device, *record, access, std::time(nullptr));

    if (otp) {
        window.AppendMessage(QStringLiteral("Get OTP succeeded!\r\n"));
        window.AppendMessage(QString::fromLatin1(otp_label(*record)) + fromAnsi(*otp) +
                             QStringLiteral("\r\n"));
    } else {
        window.AppendMessage(QStringLiteral("Failed to get OTP (error code = %1)\r\n")
                                 .arg(status_hex(otp.error().status)));
    }
    window.SetStatusText(QString());
}

void OnBnClickedRemovetoken(MainWindowPort& window)
{
    const int row = window.selectedTokenRow();
    if (row < 0) {
        window.AppendMessage(QStringLiteral("Please select a token first\r\n"));
        return;
    }
    window.selectedToken = row;
    // Read before the PIN prompt: a hot-plug refresh during it rebuilds the list.
    const QString shownSerial = window.tokenCell(row, 0);
    if (!obtainAccessText(window, [](const std::string& reason) {
            spdlog::error("[OnBnClickedRemovetoken] Failed to query_pin_ifn. Error={}", reason);
        }))
        return;

    BusyCursor busy;
    DeviceApi& device = window.device();
    auto record = freshRecordAt(device, row, shownSerial);
    if (!record) {
        if (record.error() == LookupFailure::StaleList)
            window.AppendMessage(kStaleListMessage);
        return;
    }

    window.SetStatusText(kTouchStatus);
    const std::string access = window.cachedPin.toUtf8().toStdString();
    const auto removed = remove_token(device, *record, access);
    window.SetStatusText(QString());

    if (removed) {
        // Only the row goes; the list is not read again and listedSerials keeps
        // the entry until the next refresh.
        window.removeTokenRow(row);
        window.AppendMessage(QStringLiteral("Token SN=%1 removed\r\n").arg(shownSerial));
    } else {
        window.AppendMessage(
            QStringLiteral("Failed to delete the OTP token SN=%1 (error code = %2)\r\n")
                .arg(serialText(*record), status_hex(removed.error().status)));
    }
}

void OnBnClickedReset(MainWindowPort& window)
{
    BusyCursor busy;
    // A second click while the key waits for its touch must not queue a second reset.
    window.setControlEnabled(ControlId::Reset, false);
    window.SetStatusText(kTouchStatus);
    window.AppendMessage(kTouchMessage);

    const auto reset = reset_key(window.device());

    QString message;
    if (reset) {
        message = QStringLiteral("Reset Succeeded!\r\n");
        // The key is empty now; listedSerials keeps its entries until the next refresh.
        window.clearTokenRows();
        window.setControlEnabled(ControlId::GetOtp, false);
    } else {
        message = QStringLiteral("Failed to reset the device (error code = %1)\r\n")
                      .arg(status_hex(reset.error().status));
    }
    window.AppendMessage(message);
    window.SetStatusText(QString());
    window.setControlEnabled(ControlId::Reset, true);

    // A reset also erases the access code and the PIN record.
    window.change_pin_button_status();
}

void OnSetEnter(MainWindowPort& window)
{
    int32_t choice = 0;
    {
        CSetEnterDlg dialog(window.dialogParent());
        if (dialog.exec() != ControlId::Ok)
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
        set = set_enter_flag(window.device(), appendEnter);
    }
    if (set)
        window.AppendMessage(QStringLiteral("Set C/R succeeded!\r\n"));
    else
        window.AppendMessage(QStringLiteral("Failed to set C/R (error = %1)\r\n")
                                 .arg(status_hex(set.error().status)));
}
