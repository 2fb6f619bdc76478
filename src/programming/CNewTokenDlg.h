#pragma once

// The New Token dialog: the user describes one HOTP or TOTP token, draws or
// types its serial number and seed, and Save programs it into the key and
// records it with the recorders it was given. The main window reads
// saveResult() and what it refers to once the dialog has closed.

#include "programming/ProgramToken.h"

#include <QDialog>
#include <QString>

#include <optional>
#include <span>
#include <string>
namespace otp::device {
class DeviceApi;
} // namespace otp::device
class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace otp::programming {

// The New Token dialog's results: the window system's OK and Cancel
// commands (Enter with no push button focused; Escape and the close box) and
// the IDs of the buttons that close it.
namespace NewTokenId {
inline constexpr int Ok = 1;
inline constexpr int Cancel = 2;
inline constexpr int Save = 1001;
inline constexpr int CancelButton = 1003;
} // namespace NewTokenId

// Save results, as the main window reads them once the dialog has closed.
inline constexpr int kNotSaved = 0;
inline constexpr int kProgrammingFailed = 1;
inline constexpr int kProgrammingSucceeded = 2;

// The dialog's fields as read from its controls.
struct NewTokenForm
{
    core::OtpAlgorithm algorithm = core::OtpAlgorithm::Totp;
    core::OtpHash hash = core::OtpHash::Sha1;
    int digits = 6;
    int interval = 30;
    bool appendEnter = true;
    QString serialText;
    QString seedText;
    QString userName;
};

class CNewTokenDlg : public QDialog
{
public:
    // The token goes to the key `keySerial` with `access`; `suggestedSerial`
    // fills the serial edit; the recorders take its seed.
    CNewTokenDlg(device::DeviceApi& device, std::string keySerial, std::string access,
                 std::string suggestedSerial, std::span<records::Recorder* const> recorders,
                 QWidget* parent = nullptr);

    int saveResult() const { return m_saveResult; }
    // The fields as they stood when Save was pressed.
    const NewTokenForm& form() const { return m_form; }
    // Once the key has taken the token (saveResult() 2).
    const std::optional<ProgrammedToken>& programmed() const { return m_programmed; }
    // Why the key did not take it (saveResult() 1).
    const core::OpError& failure() const { return m_failure; }

    // Button handlers, public so that the flow and the tests can press them
    // the way the buttons do.
    void OnBnClickedGenerateSerial();
    void OnBnClickedGenerateSeed();
    void OnBnClickedSave();

    // Replaces the status line's text (control 1060).
    void setStatusText(const QString& text);

    // Escape and the close box end the dialog with the window system's
    // Cancel command.
    void reject() override;

private:
    void buildControls();
    // Data exchange between the controls and m_form, in the order serial,
    // seed, user name, hash, digits, algorithm, interval, ENTER.
    void readControls();
    void writeControls();

    device::DeviceApi& m_device;
    const std::string m_keySerial;
    const std::string m_access;
    const std::string m_suggestedSerial;
    const std::vector<records::Recorder*> m_recorders;

    NewTokenForm m_form;
    int m_saveResult = kNotSaved;
    std::optional<ProgrammedToken> m_programmed;
    core::OpError m_failure;

    QButtonGroup* m_algorithm = nullptr;
    QButtonGroup* m_hash = nullptr;
    QButtonGroup* m_digits = nullptr;
    QButtonGroup* m_interval = nullptr;
    QCheckBox* m_appendEnter = nullptr;
    QLineEdit* m_serialEdit = nullptr;
    QLineEdit* m_seedEdit = nullptr;
    QLineEdit* m_userNameEdit = nullptr;
    QLabel* m_status = nullptr;
};

} // namespace otp::programming
