#pragma once

// A push button of our dialogs: named for tests and screen readers by its
// caption, and never a default button, so that Enter in an edit cannot press
// a button that talks to the key.

#include <QPushButton>
#include <QString>

inline QPushButton* makeDialogButton(const QString& caption, const char* objectName,
                                     QWidget* parent)
{
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QLatin1String(objectName));
    button->setAccessibleName(caption);
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}
