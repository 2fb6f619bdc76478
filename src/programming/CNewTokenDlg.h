#pragma once

// The New Token dialog: the user describes one HOTP or TOTP token, draws or
// types its serial number and seed, and Save programs it into the key and
// records it in the seed files. The main window reads saveResult(),
// resultText() and appendEnter() once it has closed.

#include "device/DeviceApi.h"
#include "programming/NewToken.h"
#include "programming/SeedFiles.h"

#include <QDialog>

#include <string>

class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

// Control IDs of the New Token dialog (template 130); also the dialog's
// result for the buttons that close it.
namespace NewTokenId {
inline constexpr int Ok = 1;     // Enter with no push button focused
inline constexpr int Cancel = 2; // Escape and the close box
inline constexpr int GenerateSeed = 1000;
inline constexpr int Save = 1001;
inline constexpr int GenerateSerial = 1002;
inline constexpr int CancelButton = 1003;
inline constexpr int SerialEdit = 1011;
inline constexpr int Digits6 = 1013;
inline constexpr int Digits8 = 1014;
inline constexpr int Interval30 = 1015;
inline constexpr int Interval60 = 1016;
inline constexpr int Hotp = 1021;
inline constexpr int Totp = 1022;
inline constexpr int Sha1 = 1025;
inline constexpr int Sha256 = 1026;
inline constexpr int SeedEdit = 1012;
inline constexpr int UserNameEdit = 1030;
inline constexpr int AppendEnter = 1032;
inline constexpr int Note = 1033;
inline constexpr int StatusLine = 1060;
} // namespace NewTokenId

class CNewTokenDlg : public QDialog
{
public:
    // `access` goes to the key with the new token; `suggestedSerial` fills the
    // serial edit. The seed files live in `seedDirectory`, by default the
    // executable's own directory.
    CNewTokenDlg(DeviceApi& device, std::string access, std::string suggestedSerial,
                 QWidget* parent = nullptr, QString seedDirectory = QString());

    int saveResult() const { return m_saveResult; }
    const QString& resultText() const { return m_resultText; }
    bool appendEnter() const { return m_form.appendEnter; }

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

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void buildControls();
    // Data exchange between the controls and m_form, in the order serial,
    // seed, user name, hash, digits, algorithm, interval, ENTER.
    void readControls();
    void writeControls();

    DeviceApi& m_device;
    const std::string m_access;
    const std::string m_suggestedSerial;
    const QString m_seedDirectory;

    NewTokenForm m_form;
    int m_saveResult = kNotSaved;
    QString m_resultText;

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
