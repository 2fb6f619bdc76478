#pragma once

// The token list of the main window: one row per token on the key, in the
// order the library lists them, and the serial numbers behind the rows.

#include "window/MainWindowPort.h"

#include <QString>
#include <QStringList>

// Reads the tokens from the key and rebuilds the rows and listedSerials,
// reporting the outcome and the key's PIN protection mode.
void RefreshTokenList(MainWindowPort& window);

// The five cells of a token's row: serial, OTP type, hash, digits, interval.
// A value the tool does not know shows as "N/A".
QStringList tokenRowCells(const OtpTokenRecord& record);
