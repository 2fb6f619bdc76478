#pragma once

// A container's password or pre-shared key from a file. Never from a
// command-line option, which other users can read in the process list.

#include "pskc/PskcContainer.h"

#include <expected>
#include <filesystem>
#include <string_view>

namespace otp::pskc {

// The password is the first line of the file, without its line end.
core::OpResult<core::Password> read_password_file(const std::filesystem::path& path);

// 32, 48 or 64 hexadecimal digits (AES-128, -192, -256), white space around
// them ignored. The key's name in the container is the file's name.
core::OpResult<PresharedKey> read_key_file(const std::filesystem::path& path);

} // namespace otp::pskc
