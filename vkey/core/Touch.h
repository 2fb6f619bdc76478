#pragma once

// Waiting for a finger on the key, as the key's touch setting says.

#include "KeyStore.h"

namespace vkey {

// Blocks until the key is touched; false when nobody touched it in time.
// auto: touched after delayMs. manual: a touch dropped by `vnkey touch`
// (the <SERIAL>.touch file) is consumed; one dropped while nothing waited is
// kept for the next operation until it is timeoutMs old. never: false after
// timeoutMs.
bool waitForTouch(const KeyStore& store, const std::string& serial, const TouchSetting& touch);

} // namespace vkey
