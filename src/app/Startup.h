#pragma once

// Start-up on Qt: create the main window, show it, run the application's
// event loop until the window ends the program, and answer the exit code.

#include <QWidget>

#include <functional>
#include <memory>

namespace otp::app {

// Creates the main window, or answers null when it cannot.
using MainWindowFactory = std::function<std::unique_ptr<QWidget>()>;

// Answers the exit code the window ended the program with (1 or 2), or 0 at
// once when the window could not be created. Needs a QApplication.
int Run(const MainWindowFactory& createMainWindow);

} // namespace otp::app
