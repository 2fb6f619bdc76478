#pragma once

// What the window's flows (discovery, the token list, the token buttons, New
// Token, the PIN buttons) need from the main window, without any widget: the
// Messages panel, the status line, the buttons, the token list and the state
// the window keeps between commands. CMainDlg implements it; tests drive the
// flows through a fake. The port's names are our own, in Qt's style; CMainDlg
// keeps the names the window's operations have always had (AppendMessage,
// RefreshTokenList, change_pin_button_status, ...).

#include "app/ControlId.h"
#include "app/SeedRecordsChoice.h"
#include "core/Secret.h"

#include <QString>
#include <QStringList>

#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>
namespace otp::device {
class DeviceApi;
} // namespace otp::device
class QWidget;

namespace otp::app {

// What the main window remembers between commands.
struct WindowState
{
    QString cachedPin;                      // the PIN, once a protected operation had it
    std::vector<std::string> listedSerials; // the serials of the rows, at the last refresh
    std::string keySerialNumber;            // of the key the last discovery found
    std::filesystem::path seedFolder;       // where New Token writes; empty: the default
    SeedRecordsChoice records;              // where New Token records; the seed files by default
    // The password of the PSKC file pskcPasswordFile once asked; in memory only.
    std::optional<core::Password> pskcPassword;
    QString pskcPasswordFile;
};

class MainWindowPort
{
public:
    virtual ~MainWindowPort() = default;

    virtual device::DeviceApi& device() = 0;
    virtual WindowState& state() = 0;

    // The window's AppendMessage: appends at the very end of the Messages
    // panel; the text brings its own "\r\n".
    virtual void appendMessage(const QString& text) = 0;
    // The window's SetStatusText: replaces the status line's text.
    virtual void setStatusText(const QString& text) = 0;

    virtual void setControlEnabled(int controlId, bool enabled) = 0;
    virtual bool isControlEnabled(int controlId) const = 0;

    // Token list (control 1007).
    virtual void clearTokenRows() = 0;
    virtual void appendTokenRow(const QStringList& cells) = 0; // five cells
    virtual int tokenRowCount() const = 0;
    virtual int selectedTokenRow() const = 0; // -1 when none is selected
    virtual QString tokenCell(int row, int column) const = 0;
    virtual void removeTokenRow(int row) = 0;

    // Main-window operations other flows chain into: RefreshTokenList and
    // change_pin_button_status.
    virtual void refreshTokenList() = 0;
    virtual void updatePinButton() = 0;

    // Owner for modal dialogs (the currently active window).
    virtual QWidget* dialogParent() = 0;

    // The time TOTP challenges are built from.
    virtual std::time_t now() = 0;
};

} // namespace otp::app
