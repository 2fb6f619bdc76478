#pragma once

// Reads the tool's own clear-text seed files: hseeds.csv and tseeds.csv
// (UTF-16LE, CR LF), hseeds.xml and tseeds.xml. The kind of a file is told by
// its content, not its name, so renamed copies read as well.

#include "core/Error.h"
#include "pskc/KeyPackage.h"

#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace otp::records {

// One token as one seed file records it; what that file does not say is empty.
struct SeedRecord
{
    std::string source; // file name, for messages
    core::OtpAlgorithm algorithm = core::OtpAlgorithm::Hotp;
    std::string serial;
    core::SecretBytes seed;
    core::OtpHash hash =
        core::OtpHash::Sha1;             // the XML file's crypto element, else from the seed length
    std::optional<int> digits;           // XML files only
    std::optional<int> interval;         // tseeds.csv only
    std::optional<int> headerTimeWindow; // tseeds.xml: the file's one time value
    std::string userName;
};

core::OpResult<std::vector<SeedRecord>> parse_seed_file(std::string_view bytes,
                                                        std::string_view source);
core::OpResult<std::vector<SeedRecord>> read_seed_file(const std::filesystem::path& path);

} // namespace otp::records
