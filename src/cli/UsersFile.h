#pragma once

// The users of a batch, one per key in order: a UTF-8 text file with one
// user name a line. Blank lines and lines whose first non-blank character is
// # are skipped; white space around a name is dropped. A name listed twice
// is refused: its second key would replace or shadow the first one's token.

#include "core/Error.h"

#include <string>
#include <vector>

namespace otp::cli {

struct ListedUser
{
    std::string name;
    int line = 0; // from 1, for messages
};

core::OpResult<std::vector<ListedUser>> read_users_file(const std::string& path);

} // namespace otp::cli
