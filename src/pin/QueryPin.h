#pragma once

// The PIN a protected operation (Get OTP, Remove, New Token) passes to the key
// as its access code, asking the user with PinDlg when a PIN is set and none
// is cached. On a value the caller caches it; on an Err the caller logs and
// shows err.message and skips its device call.

#include "device/DeviceApi.h"
#include "pin/PinResult.h"

#include <expected>
#include <string>

class QWidget;

std::expected<std::string, Err> query_pin_ifn(DeviceApi& device, QWidget* parent,
                                              const std::string& cachedPinUtf8);
