#include "device/DeviceChange.h"

#include <cstring>

std::array<uint64_t, 2> InterfaceClassId::halves() const
{
    uint8_t bytes[16] = {};
    std::memcpy(bytes, &data1, 4);
    std::memcpy(bytes + 4, &data2, 2);
    std::memcpy(bytes + 6, &data3, 2);
    std::memcpy(bytes + 8, data4.data(), 8);
    std::array<uint64_t, 2> out{};
    std::memcpy(out.data(), bytes, 16);
    return out;
}

DeviceInterfaceBroadcast keyInterfaceBroadcast(const QString& serial)
{
    DeviceInterfaceBroadcast header;
    header.classId = kUsbDeviceInterfaceClass;
    header.name =
        QStringLiteral("\\\\?\\USB#VID_096E&PID_0001#%1#{a5dcbf10-6530-11d2-901f-00c04fb951ed}")
            .arg(serial);
    return header;
}

bool isOurKeyInterface(const DeviceInterfaceBroadcast& header)
{
    return header.deviceType == kDeviceTypeInterface &&
           header.classId.halves() == kUsbDeviceInterfaceClass.halves() &&
           header.name.contains(QLatin1String("VID_096E"), Qt::CaseSensitive);
}
