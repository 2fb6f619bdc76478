#pragma once

// The users of a batch, one per key in order: a UTF-8 text file with one
// user name a line. Blank lines and lines whose first non-blank character is
// # are skipped; white space around a name is dropped.

#include "core/Error.h"

#include <string>
#include <vector>

OpResult<std::vector<std::string>> read_users_file(const std::string& path);
