#pragma once

#include "window/MainWindowPort.h"

#include <QString>

// The main window's New Token command (1027): asks for the PIN if the key
// wants one, proposes the next serial number, runs the New Token dialog and,
// once a token has been programmed, reports it, sends the ENTER choice to the
// key, refreshes the token list and enables Get OTP.
void OnNewToken(MainWindowPort& window);

// The same, with the seed files in `seedDirectory` instead of beside the
// executable.
void OnNewToken(MainWindowPort& window, const QString& seedDirectory);
