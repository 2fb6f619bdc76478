#include "app/NewTokenFlow.h"

#include "app/TokenButtons.h"
#include "pin/QueryPin.h"
#include "programming/CNewTokenDlg.h"
#include "programming/SerialProposal.h"
#include "records/SeedFileRecorder.h"
#include "records/SeedFolder.h"
#include "ui/AnsiText.h"

#include <QDir>

#include <spdlog/spdlog.h>

namespace {

// The Messages-panel lines of a programmed token: success, SN and SEED as the
// edits showed them, then one line per record that could not be written (the
// seed above is then the only trace of the token outside the key).
QString resultText(const NewTokenForm& form, const ProgrammedToken& programmed)
{
    QString text = QStringLiteral("Save new token succeeded!\r\n") + QStringLiteral("SN=") +
                   form.serialText + QStringLiteral(", SEED=") + form.seedText +
                   QStringLiteral("\r\n");
    for (const RecordOutcome& outcome : programmed.records)
        if (outcome.failure)
            text += QStringLiteral("Failed to record the new token in %1: %2\r\n")
                        .arg(QDir::toNativeSeparators(QString::fromStdString(outcome.destination)),
                             QString::fromStdString(outcome.failure->detail));
    return text;
}

} // namespace

void OnNewToken(MainWindowPort& window)
{
    WindowState& state = window.state();
    KeySession key(window.device());
    auto access = query_pin_ifn(key, window.dialogParent(), state.cachedPin.toUtf8().toStdString());
    if (!access) {
        spdlog::error("[OnNewToken] Failed to query_pin_ifn. Error={}", access.error().detail);
        window.SetStatusText(QString::fromStdString(access.error().detail));
        return;
    }
    state.cachedPin = QString::fromStdString(*access);

    const std::string serial = next_serial_number(state.listedSerials, state.keySerialNumber);
    SeedFileRecorder seedFiles(state.seedFolder.empty() ? default_seed_folder() : state.seedFolder);
    Recorder* const recorders[] = {&seedFiles};
    CNewTokenDlg dialog(window.device(), state.keySerialNumber, *access, serial, recorders,
                        window.dialogParent());
    dialog.exec();

    if (dialog.saveResult() == kProgrammingFailed)
        window.AppendMessage(QStringLiteral("Failed to save the new token (error = %1)\r\n")
                                 .arg(statusHex(dialog.failure().status)));
    if (dialog.saveResult() != kProgrammingSucceeded)
        return;
    const ProgrammedToken& programmed = *dialog.programmed();
    window.AppendMessage(resultText(dialog.form(), programmed));
    window.AppendMessage(enterResultLine(programmed.enter));
    window.RefreshTokenList();
    window.setControlEnabled(ControlId::GetOtp, true);
}
