#pragma once

#include <QIcon>

namespace otp::ui {

// Icon 128: the tool's icon, used by the main window and every dialog.
QIcon appIcon();

// On X, starts decoding the icon's image on a thread of its own, for the
// icons appIcon() hands out later: X is given the icon's pixels as soon as a
// window with an icon is created, and decoding the file (and before that
// finding the image reader for it) is a noticeable part of the start. Call it
// once the QApplication exists.
void preloadAppIcon();

} // namespace otp::ui
