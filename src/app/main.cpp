#include "app/CMainDlg.h"
#include "app/CommandLine.h"
#include "app/Startup.h"
#include "core/Secret.h"
#include "device/LinkedDevice.h"
#include "ui/AppIcon.h"
#include "ui/FontConfigWarmUp.h"

#include <QApplication>

using namespace otp::core;
using namespace otp::device;
using namespace otp::pskc;
using namespace otp::ui;
using namespace otp::app;

int main(int argc, char* argv[])
{
    disable_core_dumps();
    if (const std::optional<int> answered = answer_command_line(argc, argv))
        return *answered;

    FontConfigWarmUp fontConfig;
    QApplication application(argc, argv);
    preloadAppIcon();
    QApplication::setWindowIcon(appIcon());

    LinkedDevice device;
    fontConfig.wait();
    return Run([&device] { return createMainWindow(device.api()); });
}
