#include "device/Discovery.h"

#include "device/AnsiText.h"

OpResult<std::string> find_the_key(DeviceApi& device)
{
    uint32_t reserved = 0;
    const uint32_t listed = device.ListDevice(&reserved, 0);
    switch (listed) {
    case VN_OK:
        break;
    case VN_ERR_NO_DEVICE:
        return std::unexpected(OpError{
            Fault::NoKey, listed,
            QStringLiteral("No Vornik/Tessel key is plugged in (%1).").arg(status_hex(listed))});
    case VN_ERR_MULTIPLE_DEVICES:
        return std::unexpected(
            OpError{Fault::MultipleKeys, listed,
                    QStringLiteral("More than one Vornik/Tessel key is plugged in (%1).")
                        .arg(status_hex(listed))});
    default:
        return std::unexpected(device_fault(listed));
    }

    DeviceInfoRecord info{};
    if (const uint32_t status = device.GetDeviceInfo(&info); status != VN_OK)
        return std::unexpected(OpError{Fault::KeyUnreadable, status, status_hex(status)});
    return fieldText(info.serialNumber, sizeof info.serialNumber);
}
