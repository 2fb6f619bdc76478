#pragma once

// Finding the one key of the family that is plugged in, without any window:
// the main window, the command line and the batch run all ask here.

#include "device/DeviceApi.h"
#include "device/OpResult.h"

#include <string>

// The plugged-in key's serial number. Fails with NoKey or MultipleKeys (status
// set to the library's answer), KeyUnreadable when the key was listed but its
// information could not be read, and Device for any other listing status.
OpResult<std::string> find_the_key(DeviceApi& device);
