#include "ui/AppIcon.h"
#include "app/CMainDlg.h"
#include "app/MessageLoop.h"
#include "device/DeviceApi.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setWindowIcon(appIcon());

    AppModule module;
    LinkedDeviceApi device;
    return Run(module, [&device](MessageLoop& loop) { return createMainWindow(device, loop); });
}
