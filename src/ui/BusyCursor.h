#pragma once

// Shows a cursor shape for as long as it lives. The device calls block the
// only thread, so the wait cursor is the user's one sign that we are busy;
// a dialog opened in the middle of such a call pushes the arrow back.

#include <QCursor>
#include <QGuiApplication>

namespace otp::ui {

class BusyCursor
{
public:
    explicit BusyCursor(Qt::CursorShape shape = Qt::WaitCursor)
    {
        QGuiApplication::setOverrideCursor(QCursor(shape));
    }
    ~BusyCursor() { QGuiApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

} // namespace otp::ui
