#pragma once

// Enter and Escape in the tool's windows, as on the platform the tool comes
// from: Enter on a focused push button presses that button (a focused Cancel
// is never passed over for the window's default action); Enter anywhere else
// runs the window's Enter command, Escape its Escape command. One filter per
// window sees the keys on the application before any widget of the window
// does, so no edit or list can swallow them.

#include <QObject>
#include <QString>

#include <functional>
class QDialog;
class QPushButton;
class QWidget;

namespace otp::ui {

class DialogKeys final : public QObject
{
public:
    // Lives as long as `window`, its parent.
    DialogKeys(QWidget* window, std::function<void()> enter, std::function<void()> escape);

    // The usual commands of a dialog: Enter elsewhere presses its default
    // button (or accepts it when it has none), Escape rejects it.
    static void install(QDialog* dialog);

    bool eventFilter(QObject* receiver, QEvent* event) override;

private:
    QWidget* m_window;
    std::function<void()> m_enter;
    std::function<void()> m_escape;
};

// A push button of our dialogs: named for tests and screen readers by its
// caption, and never a default button by itself, so that Enter in an edit
// cannot press a button that talks to the key.
QPushButton* makeDialogButton(const QString& caption, const char* objectName, QWidget* parent);

} // namespace otp::ui
