#pragma once

// The main window's per-token commands: Get OTP (1020), Remove (1009),
// Reset (1015) and Set ENTER (1021), as free functions over the window's
// port. The new-token flow words its ENTER line with enterResultLine.

#include "app/MainWindowPort.h"
#include "core/Error.h"

namespace otp::app {

// Computes an OTP from the selected token and reports it in the Messages panel.
void OnBnClickedGetOTP(MainWindowPort& window);

// Deletes the selected token from the key and its row from the list.
void OnBnClickedRemovetoken(MainWindowPort& window);

// Erases the key; no selection, no PIN and no confirmation.
void OnBnClickedReset(MainWindowPort& window);

// Asks for the "Append ENTER to OTP" choice and sends it to the key on Save.
void OnSetEnter(MainWindowPort& window);

// Tells the key whether to type ENTER after an OTP; the flag is the key's,
// not a token's.
void SetEnterFlag(MainWindowPort& window, bool appendEnter);

// "Set C/R succeeded!" or the failure with the key's status.
QString enterResultLine(const core::OpResult<void>& set);

} // namespace otp::app
