#include "app/Startup.h"

#include <QApplication>

namespace otp::app {

int Run(const MainWindowFactory& createMainWindow)
{
    // The program ends only through the main window's closing command, which
    // brings its own exit code; Qt must not end it with 0 behind our back.
    QApplication::setQuitOnLastWindowClosed(false);
    std::unique_ptr<QWidget> mainWindow = createMainWindow();
    if (!mainWindow)
        return 0;
    mainWindow->show();
    const int code = QApplication::exec();
    mainWindow.reset();
    return code;
}

} // namespace otp::app
