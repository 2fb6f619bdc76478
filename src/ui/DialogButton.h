#pragma once

// A push button of our dialogs: named for tests and screen readers by its
// caption, and never a default button by itself, so that Enter in an edit
// cannot press a button that talks to the key. Enter on the focused button
// presses that button, as on the platform the tool comes from: a focused
// Cancel is never passed over for the dialog's default OK.

#include <QEvent>
#include <QKeyEvent>
#include <QObject>
#include <QPushButton>
#include <QString>

class EnterPressesFocusedButton final : public QObject
{
public:
    using QObject::QObject;

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        if (!enter || (key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
            return false;
        auto* button = qobject_cast<QPushButton*>(watched);
        if (button == nullptr || !button->isEnabled())
            return false;
        button->click();
        return true;
    }
};

inline QPushButton* makeDialogButton(const QString& caption, const char* objectName,
                                     QWidget* parent)
{
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QLatin1String(objectName));
    button->setAccessibleName(caption);
    button->setAutoDefault(false);
    button->setDefault(false);
    button->installEventFilter(new EnterPressesFocusedButton(button));
    return button;
}
