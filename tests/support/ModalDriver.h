#pragma once

// Answers modal dialogs while a command runs them with exec(). While armed it
// looks for an active modal widget every few milliseconds and hands each one
// to the test's action. It closes what the action leaves open, and after 20 s
// closes every dialog without acting, so no test can hang. Every dialog
// counts, so one that should not have appeared fails the test.

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QStringList>
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
            if (m_clock.elapsed() < 20000) {
                ++m_seen;
                m_act(dialog);
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
};

// Drives a dialog by its controls' object names: each step clicks the named
// button, or with "=" fills the named edit ("pinEdit=1234", "okButton").
inline void perform(QWidget* dialog, const QStringList& steps)
{
    for (const QString& step : steps) {
        if (const auto at = step.indexOf('='); at > 0)
            dialog->findChild<QLineEdit*>(step.left(at))->setText(step.mid(at + 1));
        else
            dialog->findChild<QAbstractButton*>(step)->click();
    }
}
