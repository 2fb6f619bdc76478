#pragma once

// The secrets the command line reads from a file or standard input: the seed
// (--seed-file) and the PIN (--pin-file, --pin-stdin). Reads are bounded, so
// a wrong file such as /dev/zero is refused instead of filling the memory,
// and a file that group or others can read earns a warning, since whoever
// can read it holds the secret.

#include "core/Error.h"
#include "core/Secret.h"

#include <filesystem>
#include <iosfwd>
#include <string>
#include <string_view>

namespace otp::cli {

// Far above any seed or PIN: a longer first line is the wrong file.
inline constexpr std::size_t kSecretInputLimit = 4096;

// The first line of `path` ("-": standard input) without its line end.
// Refused when the file cannot be read, is a folder or is too long.
core::OpResult<core::Password> read_secret_first_line(const std::string& path);

// On `err`, when group or others can read the file that holds a secret.
void warn_if_others_can_read(const std::filesystem::path& path, std::ostream& err);

} // namespace otp::cli
