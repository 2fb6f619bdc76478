#pragma once

// Shows a cursor shape for as long as it lives: the wait cursor tells the
// user the key is working while the window stays responsive around it; a
// dialog opened in the middle of such a call pushes the arrow back.

#include <QCursor>
#include <QGuiApplication>
#include <QWidget>

namespace otp::ui {

class BusyCursor
{
public:
    explicit BusyCursor(Qt::CursorShape shape = Qt::WaitCursor)
    {
        QGuiApplication::setOverrideCursor(QCursor(shape));
    }

    // Shows the wait cursor only if `window` is on screen. The main window
    // discovers the key before it is first shown, when no cursor can be
    // seen, and on X loading the cursor theme would cost that start several
    // milliseconds for nothing.
    explicit BusyCursor(const QWidget& window) : m_shown(window.isVisible())
    {
        if (m_shown)
            QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    }

    ~BusyCursor()
    {
        if (m_shown)
            QGuiApplication::restoreOverrideCursor();
    }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;

private:
    bool m_shown = true;
};

} // namespace otp::ui
