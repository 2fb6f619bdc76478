#pragma once

// The main window's side of finding the key: once when it opens and again
// whenever a key of the family is plugged in; a key pulled out empties the
// token list.

#include "device/DeviceChange.h"
#include "window/MainWindowPort.h"

#include <chrono>
#include <functional>

// Asks the library for the key, reports what it found, remembers the key's
// serial number, enables the key buttons and refreshes the token list.
void DetectDevice(MainWindowPort& window);

// How long a freshly plugged key is given to settle before it is asked for.
inline constexpr std::chrono::milliseconds kArrivalSettleTime{2000};

// The settle wait. It blocks the window on purpose; tests pass a wait that
// only records what it was asked for.
using ArrivalWait = std::function<void(std::chrono::milliseconds)>;
void sleepOnThisThread(std::chrono::milliseconds duration);

// Acts on a device-change event: arrival of our key runs discovery after the
// settle wait, removal empties the token list, everything else is ignored.
// header may be null. Always answers 0.
int OnDeviceChange(MainWindowPort& window, uint32_t eventCode,
                   const DeviceInterfaceBroadcast* header, const ArrivalWait& wait);
