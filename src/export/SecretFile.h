#pragma once

// Reading and replacing files that hold secrets. A replaced file is written
// to a temporary file beside it that is owner-only from its creation, synced
// and renamed over the old one, so a reader sees the old file or the new one
// and never a part, and a crash leaves the old file whole.

#include "export/PskcError.h"

#include <cstddef>
#include <expected>
#include <filesystem>
#include <string>
#include <string_view>

namespace pskc {

// Refuses files larger than `limit` bytes.
std::expected<std::string, Error> read_file(const std::filesystem::path& path, std::size_t limit);

std::expected<void, Error> replace_file(const std::filesystem::path& path, std::string_view bytes);

} // namespace pskc
