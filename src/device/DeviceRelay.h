#pragma once

// The device library behind a relay: every call of the seam is handed, whole,
// to `run`, which carries it out (on a thread of its own, say) and returns
// once it has. The window puts the library on its worker this way without
// any code outside device/ touching the library's records.

#include <functional>
#include <memory>

namespace otp::device {

class DeviceApi;

class DeviceRelay
{
public:
    using Run = std::function<void(const std::function<void()>& call)>;

    DeviceRelay(DeviceApi& device, Run run);
    ~DeviceRelay();
    DeviceRelay(const DeviceRelay&) = delete;
    DeviceRelay& operator=(const DeviceRelay&) = delete;

    DeviceApi& api() { return *m_api; }

private:
    std::unique_ptr<DeviceApi> m_api;
};

} // namespace otp::device
