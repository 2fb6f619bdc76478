#include "programming/NewTokenFlow.h"

#include "pin/QueryPin.h"
#include "programming/CNewTokenDlg.h"
#include "programming/SerialProposal.h"
#include "tokens/TokenOperations.h"

#include <spdlog/spdlog.h>

void OnNewToken(MainWindowPort& window)
{
    OnNewToken(window, QString());
}

void OnNewToken(MainWindowPort& window, const QString& seedDirectory)
{
    auto access = query_pin_ifn(window.device(), window.dialogParent(),
                                window.cachedPin.toUtf8().toStdString());
    if (!access) {
        spdlog::error("[OnNewToken] Failed to query_pin_ifn. Error={}", access.error().message);
        window.SetStatusText(QString::fromUtf8(access.error().message));
        return;
    }
    window.cachedPin = QString::fromUtf8(*access);

    const std::string serial = next_serial_number(window.listedSerials, window.keySerialNumber);
    CNewTokenDlg dialog(window.device(), *access, serial, window.dialogParent(), seedDirectory);
    dialog.exec();

    if (dialog.saveResult() != kNotSaved)
        window.AppendMessage(dialog.resultText());
    if (dialog.saveResult() == kProgrammingSucceeded) {
        SetEnterFlag(window, dialog.appendEnter());
        window.RefreshTokenList();
        window.setControlEnabled(ControlId::GetOtp, true);
    }
}
