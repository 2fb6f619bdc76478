#pragma once

// Where a container's password or key comes from: a file, or the terminal.
// Never from a command-line option, which other users can read in the
// process list.

#include "export/PskcContainer.h"

#include <expected>
#include <filesystem>
#include <string_view>

namespace pskc {

// The password is the first line of the file, without its line end.
std::expected<Password, Error> read_password_file(const std::filesystem::path& path);

// 32, 48 or 64 hexadecimal digits (AES-128, -192, -256), white space around
// them ignored. The key's name in the container is the file's name.
std::expected<PresharedKey, Error> read_key_file(const std::filesystem::path& path);

// Shows `prompt` and reads one line with echo off from `terminal`, or from
// the process's controlling terminal when it is -1.
std::expected<Password, Error> prompt_password(std::string_view prompt, int terminal = -1);

} // namespace pskc
