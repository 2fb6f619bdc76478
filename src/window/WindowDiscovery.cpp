#include "window/WindowDiscovery.h"

#include "device/Discovery.h"

#include <thread>

namespace {

// The buttons that need a key, in the order they are enabled. Update PIN is
// not among them: it follows the key's PIN policy instead.
constexpr int kKeyButtons[] = {
    ControlId::NewToken, ControlId::SetEnter, ControlId::Refresh,   ControlId::GetOtp,
    ControlId::Remove,   ControlId::Reset,    ControlId::PinPolicy,
};

const QString kFound = QStringLiteral("Found a Vornik/Tessel device.\r\n");

} // namespace

void DetectDevice(MainWindowPort& window)
{
    const auto key = find_the_key(window.device());

    if (key) {
        window.keySerialNumber = *key;
        window.AppendMessage(kFound);
        for (const int id : kKeyButtons)
            window.setControlEnabled(id, true);
        window.RefreshTokenList();
        return;
    }

    switch (key.error().fault) {
    case Fault::KeyUnreadable:
        window.AppendMessage(kFound);
        break;
    case Fault::NoKey:
        window.AppendMessage(QStringLiteral("Vornik/Tessel device not found.\r\n"
                                            "You may need to run this tool as administrator "
                                            "(error= %1)\r\n")
                                 .arg(status_hex(key.error().status)));
        break;
    case Fault::MultipleKeys:
        window.AppendMessage(QStringLiteral("Multiple Vornik/Tessel devices found (Error= %1)\r\n")
                                 .arg(status_hex(key.error().status)));
        break;
    default:
        // A status we cannot explain to the user: better to show nothing than
        // a list refresh that would only repeat the same failure.
        return;
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
