#include "app/NewTokenFlow.h"

#include "app/PskcPasswordDlg.h"
#include "app/TokenButtons.h"
#include "pin/QueryPin.h"
#include "programming/CNewTokenDlg.h"
#include "programming/SerialProposal.h"
#include "pskc/Credentials.h"
#include "records/Destinations.h"
#include "records/SeedFolder.h"
#include "ui/AnsiText.h"

#include <QDir>
#include <QFileInfo>

#include <spdlog/spdlog.h>

using namespace otp::core;
using namespace otp::device;
using namespace otp::pskc;
using namespace otp::records;
using namespace otp::ui;
using namespace otp::pin;
using namespace otp::programming;

namespace otp::app {

namespace {

std::filesystem::path pathOf(const QString& file)
{
    return std::filesystem::path(file.toStdString());
}

QString shown(const std::filesystem::path& path)
{
    return QDir::toNativeSeparators(QString::fromStdString(path.string()));
}

// The key file's key, or the password asked once per run.
OpResult<pskc::Credential> pskcCredential(MainWindowPort& window)
{
    WindowState& state = window.state();
    const SeedRecordsChoice& choice = state.records;
    if (!choice.pskcKeyFile.isEmpty())
        return pskc::read_key_file(pathOf(choice.pskcKeyFile));
    if (state.pskcPassword && state.pskcPasswordFile == choice.pskcFile)
        return *state.pskcPassword;
    PskcPasswordDlg dialog(choice.pskcFile, !QFileInfo::exists(choice.pskcFile),
                           window.dialogParent());
    if (dialog.exec() != QDialog::Accepted)
        return fail(Fault::Cancelled,
                    "No password was entered for " + choice.pskcFile.toStdString() + ".");
    state.pskcPassword = dialog.password();
    state.pskcPasswordFile = choice.pskcFile;
    return *state.pskcPassword;
}

// The recorders of the window's choice, opened before the dialog so that a
// PSKC file that cannot be extended stops New Token before anything else
// (the reason goes to the status line). The folders are opened at Save,
// where the dialog reports them.
OpResult<std::unique_ptr<Recorders>> openChosenRecorders(MainWindowPort& window)
{
    WindowState& state = window.state();
    const SeedRecordsChoice& choice = state.records;
    Destinations destinations;
    if (choice.seedFiles)
        destinations.seedFolder =
            state.seedFolder.empty() ? default_seed_folder() : state.seedFolder;
    if (!choice.pskcFile.isEmpty()) {
        auto credential = pskcCredential(window);
        if (!credential)
            return std::unexpected(credential.error());
        pskc::ContainerSettings settings;
        settings.profile = choice.pskcProfile;
        destinations.pskc =
            PskcDestination{pathOf(choice.pskcFile), std::move(*credential), settings};
    }
    if (!choice.oathUsersFile.isEmpty())
        destinations.oathUsers =
            OathUsersDestination{pathOf(choice.oathUsersFile), choice.oathUsersReplace};
    auto recorders = open_recorders(destinations);
    // Asked again next time: it may have been mistyped.
    if (!recorders && (recorders.error().fault == Fault::WrongPassword ||
                       recorders.error().fault == Fault::WrongProtection))
        state.pskcPassword.reset();
    return recorders;
}

// The Messages-panel lines of a programmed token: success, SN and SEED as the
// edits showed them, then one line per record that could not be written (the
// seed above is then the only trace of the token outside the key). With a
// choice of places other than the seed files alone, each place written is
// named too.
QString resultText(const NewTokenForm& form, const ProgrammedToken& programmed, bool nameEachPlace)
{
    QString text = QStringLiteral("Save new token succeeded!\r\n") + QStringLiteral("SN=") +
                   form.serialText + QStringLiteral(", SEED=") + form.seedText +
                   QStringLiteral("\r\n");
    for (const RecordOutcome& outcome : programmed.records)
        if (outcome.failure)
            text += QStringLiteral("Failed to record the new token in %1: %2\r\n")
                        .arg(shown(outcome.destination),
                             QString::fromStdString(outcome.failure->detail));
        else if (nameEachPlace)
            text += QStringLiteral("Recorded in %1\r\n").arg(shown(outcome.destination));
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
        window.setStatusText(QString::fromStdString(access.error().detail));
        return;
    }
    state.cachedPin = QString::fromStdString(*access);

    auto recorders = openChosenRecorders(window);
    if (!recorders) {
        window.setStatusText(QString::fromStdString(recorders.error().detail));
        return;
    }
    const std::string serial = next_serial_number(state.listedSerials, state.keySerialNumber);
    CNewTokenDlg dialog(window.device(), state.keySerialNumber, *access, serial,
                        (*recorders)->all(), window.dialogParent());
    dialog.exec();

    if (dialog.saveResult() == kProgrammingFailed)
        window.appendMessage(QStringLiteral("Failed to save the new token (error = %1)\r\n")
                                 .arg(statusHex(dialog.failure().status)));
    if (dialog.saveResult() != kProgrammingSucceeded)
        return;
    const ProgrammedToken& programmed = *dialog.programmed();
    // A refusal from an earlier attempt no longer holds.
    window.setStatusText(QString());
    window.appendMessage(resultText(dialog.form(), programmed, !state.records.isDefault()));
    window.appendMessage(enterResultLine(programmed.enter));
    window.refreshTokenList();
    window.setControlEnabled(ControlId::GetOtp, true);
}

} // namespace otp::app
