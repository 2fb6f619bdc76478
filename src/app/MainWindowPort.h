#pragma once

// What the window's flows (discovery, the token list, the token buttons, New
// Token, the PIN buttons) need from the main window, without any widget: the
// Messages panel, the status line, the buttons, the token list and the state
// the window keeps between commands. CMainDlg implements it; tests drive the
// flows through a fake.

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

class DeviceApi;
class QWidget;

// What the main window remembers between commands.
struct WindowState
{
    QString cachedPin;                      // the PIN, once a protected operation had it
    std::vector<std::string> listedSerials; // the serials of the rows, at the last refresh
    std::string keySerialNumber;            // of the key the last discovery found
    std::filesystem::path seedFolder;       // where New Token writes; empty: the default
    SeedRecordsChoice records;              // where New Token records; the seed files by default
    // The password of the PSKC file pskcPasswordFile once asked; in memory only.
    std::optional<Password> pskcPassword;
    QString pskcPasswordFile;
};

class MainWindowPort
{
public:
    virtual ~MainWindowPort() = default;

    virtual DeviceApi& device() = 0;
    virtual WindowState& state() = 0;

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

    // Main-window operations other flows chain into.
    virtual void RefreshTokenList() = 0;
    virtual void change_pin_button_status() = 0;

    // Owner for modal dialogs (the currently active window).
    virtual QWidget* dialogParent() = 0;

    // The time TOTP challenges are built from.
    virtual std::time_t now() = 0;
};
