#pragma once

// What the key operations need from the main window, without any widget:
// the Messages panel, the status line, the buttons, the token list and the
// state the window keeps between commands. CMainDlg implements it; the
// discovery, token-list, token and programming operations are written against
// it so that they read as plain steps and can be driven by tests.

#include "device/DeviceApi.h"

#include <QString>
#include <QStringList>

#include <string>
#include <vector>

class QWidget;

// Control IDs of the main window (dialog template 129).
namespace ControlId {
inline constexpr int Ok = 1;     // Enter with no push button focused
inline constexpr int Cancel = 2; // Escape, close box, system menu Close
inline constexpr int Messages = 1003;
inline constexpr int Refresh = 1004;
inline constexpr int TokenList = 1007;
inline constexpr int Remove = 1009;
inline constexpr int Clear = 1010;
inline constexpr int Reset = 1015;
inline constexpr int PinPolicy = 1016;
inline constexpr int UpdatePin = 1017;
inline constexpr int GetOtp = 1020;
inline constexpr int SetEnter = 1021;
inline constexpr int NewToken = 1027;
inline constexpr int StatusLine = 1034;
inline constexpr int About = 57664;
} // namespace ControlId

class MainWindowPort
{
public:
    virtual ~MainWindowPort() = default;

    virtual DeviceApi& device() = 0;

    // Appends at the very end of the Messages panel; the text brings its own "\r\n".
    virtual void AppendMessage(const QString& text) = 0;
    // Replaces the status line's text and paints it at once, so that it is on
    // screen before a device call that blocks while it waits for a touch.
    virtual void SetStatusText(const QString& text) = 0;

    virtual void setControlEnabled(int controlId, bool enabled) = 0;
    virtual bool isControlEnabled(int controlId) const = 0;

    // Token list (control 1007).
    virtual void clearTokenRows() = 0;
    virtual void appendTokenRow(const QStringList& cells) = 0; // five cells
    virtual int tokenRowCount() const = 0;
    virtual int selectedTokenRow() const = 0; // -1 when none is selected
    virtual QString tokenCell(int row, int column) const = 0;
    virtual void removeTokenRow(int row) = 0;

    // Main-window operations other parts chain into.
    virtual void RefreshTokenList() = 0;
    virtual void change_pin_button_status() = 0;

    // Owner for modal dialogs (the currently active window).
    virtual QWidget* dialogParent() = 0;

    // State kept between commands.
    QString cachedPin;
    std::vector<std::string> listedSerials;
    std::string keySerialNumber;
    int selectedToken = -1;
};
