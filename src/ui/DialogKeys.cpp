#include "ui/DialogKeys.h"

#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QPushButton>

namespace otp::ui {

DialogKeys::DialogKeys(QWidget* window, std::function<void()> enter, std::function<void()> escape)
    : QObject(window), m_window(window), m_enter(std::move(enter)), m_escape(std::move(escape))
{
    // Removed from the application again when it is destroyed with the window.
    qApp->installEventFilter(this);
}

void DialogKeys::install(QDialog* dialog)
{
    new DialogKeys(
        dialog,
        [dialog] {
            for (QPushButton* button : dialog->findChildren<QPushButton*>())
                if (button->isDefault() && button->isEnabled()) {
                    button->click();
                    return;
                }
            dialog->accept();
        },
        [dialog] { dialog->reject(); });
}

bool DialogKeys::eventFilter(QObject* receiver, QEvent* event)
{
    if (event->type() != QEvent::KeyPress)
        return false;
    auto* widget = qobject_cast<QWidget*>(receiver);
    if (widget == nullptr || widget->window() != m_window)
        return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if ((key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
        return false;
    switch (key->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (auto* button = qobject_cast<QPushButton*>(widget)) {
            if (button->isEnabled())
                button->click();
            return true;
        }
        m_enter();
        return true;
    case Qt::Key_Escape:
        m_escape();
        return true;
    default:
        return false;
    }
}

QPushButton* makeDialogButton(const QString& caption, const char* objectName, QWidget* parent)
{
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QLatin1String(objectName));
    button->setAccessibleName(caption);
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

} // namespace otp::ui
