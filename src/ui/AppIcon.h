#pragma once

#include <QIcon>

// Icon 128: the tool's icon, used by the main window and every dialog.
QIcon appIcon();
