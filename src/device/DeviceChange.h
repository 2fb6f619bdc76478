#pragma once

// Device-change notifications as the main window receives them: an event code
// and a device-interface broadcast header. On this platform the key directory
// watcher (KeyDirWatcher) produces them; OnDeviceChange filters and acts on them.

#include <QString>

#include <array>
#include <cstdint>

namespace DeviceEvent {
inline constexpr uint32_t Arrival = 0x8000;        // a device interface appeared
inline constexpr uint32_t RemoveComplete = 0x8004; // a device interface is gone
} // namespace DeviceEvent

inline constexpr uint32_t kDeviceTypeInterface = 5;

// A 128-bit interface class identifier, laid out as the platform lays it out.
struct InterfaceClassId
{
    uint32_t data1 = 0;
    uint16_t data2 = 0;
    uint16_t data3 = 0;
    std::array<uint8_t, 8> data4{};

    // The identifier as two 64-bit halves, the way it is compared.
    std::array<uint64_t, 2> halves() const;
};

// {A5DCBF10-6530-11D2-901F-00C04FB951ED}: the USB device interface class.
inline constexpr InterfaceClassId kUsbDeviceInterfaceClass{
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

// The broadcast header of a device-interface event.
struct DeviceInterfaceBroadcast
{
    uint32_t size = 32;
    uint32_t deviceType = kDeviceTypeInterface;
    uint32_t reserved = 0;
    InterfaceClassId classId{};
    QString name; // e.g. \\?\USB#VID_096E&PID_0001#SERIAL#{a5dcbf10-...}
};

// The broadcast a key of the family raises when the key with this serial
// number is plugged in or pulled out.
DeviceInterfaceBroadcast keyInterfaceBroadcast(const QString& serial);

// True when the header names a USB device interface of our vendor: type 5,
// the USB interface class, and "VID_096E" in the name in exactly this case.
bool isOurKeyInterface(const DeviceInterfaceBroadcast& header);
