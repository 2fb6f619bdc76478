#pragma once

#include "app/MainWindowPort.h"

namespace otp::app {

// The main window's New Token command (1027): asks for the PIN if the key
// wants one, proposes the next serial number, runs the New Token dialog and,
// once a token has been programmed, reports it with the key's ENTER answer,
// refreshes the token list and enables Get OTP.
void OnNewToken(MainWindowPort& window);

} // namespace otp::app
