#pragma once

// The main window's side of finding the key: once when it opens and again
// whenever a key of the family is plugged in; a key pulled out empties the
// token list.

#include "app/MainWindowPort.h"

#include <chrono>
#include <functional>

namespace otp::app {

// Asks the library for the key, reports what it found, remembers the key's
// serial number, enables the key buttons and refreshes the token list.
void DetectDevice(MainWindowPort& window);

// How long a freshly plugged key is given to settle before it is asked for.
inline constexpr std::chrono::milliseconds kArrivalSettleTime{2000};

// The settle wait. It blocks the window on purpose; tests pass a wait that
// only records what it was asked for.
using ArrivalWait = std::function<void(std::chrono::milliseconds)>;
void sleepOnThisThread(std::chrono::milliseconds duration);

// A key was plugged in: after the settle wait, everything the window's start
// evaluates (discovery, the token list, the Update PIN button, the status
// line, where seeds are recorded), and the PIN of the previous key forgotten.
void OnKeyArrival(MainWindowPort& window, const ArrivalWait& wait);
// A key was pulled out: the token list empties. Buttons, messages and the
// remembered key serial stay as they are; the next operation reports the
// missing key itself.
void OnKeyRemoval(MainWindowPort& window);

} // namespace otp::app
