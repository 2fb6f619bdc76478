#pragma once

#include <QIcon>

namespace otp::ui {

// Icon 128: the tool's icon, used by the main window and every dialog.
QIcon appIcon();

} // namespace otp::ui
