#pragma once

// The tool's only top-level window: the token list, one button per operation,
// the Messages panel and the red status line. It owns the state that lives
// longer than one command and connects every button to its operation; the
// operations themselves are free functions over MainWindowPort.

#include "app/DeviceWorker.h"
#include "app/KeyDiscovery.h"
#include "app/MainWindowPort.h"
#include "ui/DialogUnits.h"

#include <QDialog>
#include <QSize>

#include <deque>
#include <map>
#include <memory>
#include <optional>
namespace otp::device {
class KeyDirWatcher;
} // namespace otp::device
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;

namespace otp::app {

class CMainDlg final : public QDialog, public MainWindowPort
{
    Q_OBJECT

public:
    struct Options
    {
        // Folder watched for keys being plugged in; by default the one the
        // device library uses. An empty text means no hot-plug.
        std::optional<QString> keyDir;
        // The settle wait after a key is plugged in.
        ArrivalWait arrivalWait = sleepOnThisThread;
    };

    explicit CMainDlg(device::DeviceApi& device);
    CMainDlg(device::DeviceApi& device, Options options);
    ~CMainDlg() override;

    // Creates the native window and initialises it: registers for hot-plug,
    // discovers the key and lists its tokens. False when the window system
    // could not create the window.
    bool Create();

    // The window's own operations, under the names they have always had.
    void AppendMessage(const QString& text);
    void SetStatusText(const QString& text);
    void RefreshTokenList();
    void change_pin_button_status();

    // MainWindowPort
    device::DeviceApi& device() override { return m_worker.api(); }
    WindowState& state() override { return m_state; }
    void appendMessage(const QString& text) override { AppendMessage(text); }
    void setStatusText(const QString& text) override { SetStatusText(text); }
    void setControlEnabled(int controlId, bool enabled) override;
    bool isControlEnabled(int controlId) const override;
    void clearTokenRows() override;
    void appendTokenRow(const QStringList& cells) override;
    int tokenRowCount() const override;
    int selectedTokenRow() const override;
    QString tokenCell(int row, int column) const override;
    void removeTokenRow(int row) override;
    void refreshTokenList() override { RefreshTokenList(); }
    void updatePinButton() override { change_pin_button_status(); }
    QWidget* dialogParent() override;
    std::time_t now() override;

    // Ends the program with the command's number as exit code: 1 for Enter
    // with no push button focused, 2 for Escape, the close box and Close.
    void CloseMainWindow(int command);

    // The control with this ID, or null.
    QWidget* control(int id) const;
    // The Messages panel's text, with the line ends the messages brought.
    QString messagesText() const;
    QString statusText() const;

public slots:
    void accept() override;
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // One command of the window (a button, the start, a key plugged or
    // pulled), start to end. A close asked for during it, and hot-plug, wait
    // for its end.
    class Operation
    {
    public:
        explicit Operation(CMainDlg& window);
        ~Operation();
        Operation(const Operation&) = delete;
        Operation& operator=(const Operation&) = delete;

    private:
        CMainDlg& m_window;
    };

    void createControls(const ui::DialogUnits& du);
    QPushButton* addButton(int id, const QString& caption, bool enabled,
                           void (CMainDlg::*handler)());
    void queuePlugEvent(bool arrived);
    void handlePlugEvent();
    void showBusy(bool busy);
    void OnInitDialog();
    void OnDestroy();
    void registerForDeviceNotifications();
    void setUpTokenColumns();
    void centreOnWorkArea();

    // Button handlers.
    void OnAppAbout();
    void OnSeedRecords();
    void OnNewToken();
    void OnSetEnter();
    void OnBnClickedPinPolicy();
    void OnBnClickedUpdatePin();
    void OnBnClickedRefresh();
    void OnBnClickedGetOTP();
    void OnBnClickedRemovetoken();
    void OnBnClickedClear();
    void OnBnClickedReset();

    DeviceWorker m_worker;
    Options m_options;
    WindowState m_state;
    bool m_destroyed = false;
    QSize m_buttonSize; // every push button's least size, in the font's units
    int m_operations = 0;
    int m_pendingClose = 0;         // the exit code asked for during a command
    std::deque<bool> m_plugEvents;  // true: a key arrived, false: one was pulled
    std::vector<int> m_heldButtons; // disabled while the key works
    QPointer<QWidget> m_focusBeforeBusy;
    QPointer<QWidget> m_focusWhileBusy; // where disabling the buttons moved it

    std::map<int, QWidget*> m_controls;
    QTreeWidget* m_tokenList = nullptr;
    QPlainTextEdit* m_messages = nullptr;
    QLabel* m_statusLine = nullptr;
    device::KeyDirWatcher* m_deviceNotification = nullptr;
};

// The production main window over the linked device library, or null when it
// could not be created.
std::unique_ptr<QWidget> createMainWindow(device::DeviceApi& device);

} // namespace otp::app
