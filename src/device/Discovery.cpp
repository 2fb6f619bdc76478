#include "device/Discovery.h"

#include "device/AnsiText.h"

#include <thread>

namespace {

// The buttons that need a key, in the order they are enabled. Update PIN is
// not among them: it follows the key's PIN policy instead.
constexpr int kKeyButtons[] = {
    ControlId::NewToken, ControlId::SetEnter, ControlId::Refresh,   ControlId::GetOtp,
    ControlId::Remove,   ControlId::Reset,    ControlId::PinPolicy,
};

} // namespace

void DetectDevice(MainWindowPort& window)
{
    DeviceApi& device = window.device();

    uint32_t reserved = 0;
    const uint32_t listed = device.ListDevice(&reserved, 0);

    QString message;
    uint32_t deciding = listed;
    switch (listed) {
    case VN_OK: {
        message = QStringLiteral("Found a Vornik/Tessel device.\r\n");
        DeviceInfoRecord info{};
        deciding = device.GetDeviceInfo(&info);
        if (deciding == VN_OK)
            window.keySerialNumber = fieldText(info.serialNumber, sizeof info.serialNumber);
        break;
    }
    case VN_ERR_NO_DEVICE:
        message = QString::asprintf("Vornik/Tessel device not found.\r\n"
                                    "You may need to run this tool as administrator "
                                    "(error= 0x%08X)\r\n",
                                    VN_ERR_NO_DEVICE);
        break;
    case VN_ERR_MULTIPLE_DEVICES:
        message =
            QString::asprintf("Multiple Vornik/Tessel devices found (Error= 0x%08X)\r\n", listed);
        break;
    default:
        // A status we cannot explain to the user: better to show nothing than
        // a list refresh that would only repeat the same failure.
        return;
    }

    window.AppendMessage(message);
    if (deciding == VN_OK) {
        for (const int id : kKeyButtons)
            window.setControlEnabled(id, true);
    }
    // Also without a usable key: the refresh reports its own outcome.
    window.RefreshTokenList();
}

void sleepOnThisThread(std::chrono::milliseconds duration)
{
    std::this_thread::sleep_for(duration);
}

int OnDeviceChange(MainWindowPort& window, uint32_t eventCode,
                   const DeviceInterfaceBroadcast* header, const ArrivalWait& wait)
{
    if (eventCode != DeviceEvent::Arrival && eventCode != DeviceEvent::RemoveComplete)
        return 0;
    if (header == nullptr || !isOurKeyInterface(*header))
        return 0;

    if (eventCode == DeviceEvent::Arrival) {
        wait(kArrivalSettleTime);
        DetectDevice(window);
    } else {
        // Buttons, messages and the remembered key serial stay as they are;
        // the next operation reports the missing key itself.
        window.clearTokenRows();
    }
    return 0;
}
