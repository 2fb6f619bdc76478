#pragma once

// The PIN a protected operation (Get OTP, Remove, New Token) passes to the key
// as its access code, asking the user with PinDlg when a PIN is set and none
// is cached. On a value the caller caches it; on a failure the caller logs
// and shows its detail (the PIN check's message) and skips its device call.

#include "core/Error.h"
#include "device/KeySession.h"

#include <string>
class QWidget;

namespace otp::pin {

core::OpResult<std::string> query_pin_ifn(device::KeySession& device, QWidget* parent,
                                          const std::string& cachedPinUtf8);

} // namespace otp::pin
