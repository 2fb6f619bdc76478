#pragma once

// What a serial number or user name may hold, in every record and front end:
// valid UTF-8 that the seed files give back as it was, and nothing that acts
// as a control or makes the text look like another.

#include "core/Error.h"

#include <string_view>

namespace otp::core {

// C0 and C1 controls, DEL, the line and paragraph separators, the
// bidirectional overrides and isolates and the zero-width characters.
bool has_control(std::string_view text);

// U+FEFF, which a reader of the CSV file drops as a byte-order mark, and the
// noncharacters U+FFFE and U+FFFF: the seed files would not give them back.
bool has_unstorable(std::string_view text);

// Refuses a user name that is not valid UTF-8, or holds what the two above find.
OpResult<void> check_user_name(std::string_view user);

} // namespace otp::core
