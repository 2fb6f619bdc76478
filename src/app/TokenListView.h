#pragma once

// The token list of the main window: one row per token on the key, in the
// order the library lists them, and the serial numbers behind the rows.

#include "app/MainWindowPort.h"

namespace otp::app {

// Reads the tokens from the key and rebuilds the rows and listedSerials,
// reporting the outcome and the key's PIN protection mode.
void RefreshTokenList(MainWindowPort& window);

} // namespace otp::app
