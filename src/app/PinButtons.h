#pragma once

// The main window's PIN commands: the Update PIN button's state, and the
// handlers of the PIN Policy and Update PIN buttons.

#include "app/MainWindowPort.h"
namespace otp::device {
class DeviceApi;
} // namespace otp::device
class QPushButton;

namespace otp::app {

// Disabled while no policy is in force; otherwise enabled and captioned
// "Set PIN" or "Change PIN" by whether the key holds a PIN. Read from the key
// at every call.
void change_pin_button_status(device::DeviceApi& device, QPushButton* updatePinButton);

// Update PIN: refuses while no policy is in force, otherwise runs
// UpdatePinDlg; however it closes, the cached PIN is forgotten so that the
// next protected operation asks again.
void OnBnClickedUpdatePin(MainWindowPort& window);

// PIN Policy: runs CPinPolicyDlg, then brings the Update PIN button up to date.
void OnBnClickedPinPolicy(MainWindowPort& window);

} // namespace otp::app
