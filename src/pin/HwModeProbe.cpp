#include "pin/HwModeProbe.h"

namespace {
constexpr char kProbeCode[] = "qmvr482";
constexpr uint32_t kProbeLength = sizeof(kProbeCode) - 1;
} // namespace

bool is_hwmaccess_supported(DeviceApi& device)
{
    const uint32_t status =
        device.OtpChangeAccess(VN_SLOT_ALL, kProbeCode, kProbeLength, kProbeCode, kProbeLength);
    return status != VN_ERR_NO_HW_ACCESS;
}
