#pragma once

// The printable form moved to core, where the records' messages use it too.
#include "core/PrintableText.h"

namespace otp::cli {

} // namespace otp::cli
