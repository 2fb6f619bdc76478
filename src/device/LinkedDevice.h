#pragma once

// The device library linked into the program, behind the DeviceApi seam:
// what each front end's main() hands to its windows and commands. The
// library's own header stays inside device/.

#include <memory>

namespace otp::device {

class DeviceApi;

class LinkedDevice
{
public:
    LinkedDevice();
    ~LinkedDevice();
    LinkedDevice(const LinkedDevice&) = delete;
    LinkedDevice& operator=(const LinkedDevice&) = delete;

    DeviceApi& api() { return *m_api; }

private:
    std::unique_ptr<DeviceApi> m_api;
};

} // namespace otp::device
