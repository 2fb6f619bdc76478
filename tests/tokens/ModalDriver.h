#pragma once

// Answers modal dialogs while a command runs them with exec(). While armed it
// looks for an active modal widget every few milliseconds and hands each one
// it finds to the test's action, which must close it. Every dialog counts, so
// a dialog that should not have appeared fails the test instead of hanging it.

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <functional>

class ModalDriver
{
public:
    ModalDriver()
    {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            QWidget* dialog = QApplication::activeModalWidget();
            if (!dialog || !m_act)
                return;
            ++m_seen;
            m_act(dialog);
            // An action that leaves the dialog open would hang the command.
            if (dialog->isVisible())
                dialog->close();
        });
    }

    void arm(std::function<void(QWidget*)> act)
    {
        m_act = std::move(act);
        m_seen = 0;
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
    std::function<void(QWidget*)> m_act;
    int m_seen = 0;
};
