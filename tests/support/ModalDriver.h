#pragma once

// While armed, hands each active modal dialog to the action and closes what
// it leaves open; after 20 s it only closes them, so no test hangs.

#include <QAbstractButton>
#include <QApplication>
#include <QCursor>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <functional>

// True while the application shows the busy (wait) cursor.
inline bool waitCursorShown()
{
    const QCursor* cursor = QGuiApplication::overrideCursor();
    return cursor != nullptr && cursor->shape() == Qt::WaitCursor;
}

class ModalDriver
{
public:
    ModalDriver()
    {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            QWidget* dialog = QApplication::activeModalWidget();
            // A device call waits in an event loop: the dialog being acted on
            // is not a new one.
            if (!dialog || !m_act || m_acting)
                return;
            if (m_clock.elapsed() < 20000) {
                ++m_seen;
                m_acting = true;
                m_act(dialog);
                m_acting = false;
            }
            if (dialog->isVisible())
                dialog->close();
        });
    }
    explicit ModalDriver(std::function<void(QWidget*)> act) : ModalDriver() { arm(std::move(act)); }

    void arm(std::function<void(QWidget*)> act)
    {
        m_act = std::move(act);
        m_seen = 0;
        m_clock.start();
        m_timer.start();
    }
    void disarm()
    {
        m_timer.stop();
        m_act = nullptr;
    }

    int dialogsSeen() const { return m_seen; }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    std::function<void(QWidget*)> m_act;
    int m_seen = 0;
    bool m_acting = false;
};

// Steps by object name: "okButton" clicks, "pinEdit=1234" fills an edit.
inline void perform(QWidget* dialog, const QStringList& steps)
{
    for (const QString& step : steps) {
        if (const auto at = step.indexOf('='); at > 0)
            dialog->findChild<QLineEdit*>(step.left(at))->setText(step.mid(at + 1));
        else
            dialog->findChild<QAbstractButton*>(step)->click();
    }
}
