#pragma once

// `pskc convert --oath-users`: the tokens of clear-text seed files and of
// PSKC files into a pam_oath users file (records/OathUsersFile.h), with the
// refusals of the users-file recorder, all checked before the file is
// touched.

#include "pskc/PskcContainer.h"
#include "records/FolderLock.h"
#include "records/SeedConversion.h"

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace otp::records {

struct OathUsersConversionRequest
{
    std::vector<std::filesystem::path> sources; // seed files and PSKC files, any mix
    std::filesystem::path out;                  // the users file, created or extended
    bool replace = false;                       // replace the lines of users it holds
    ConversionOptions options;
    std::chrono::milliseconds lockPatience = FolderLock::kDefaultPatience;
};

struct OathUsersConversionReport
{
    std::vector<std::string> added; // serial numbers written
    std::vector<std::string> notes; // from the conversion (guessed time steps)
};

// Whether a source is a PSKC file (a KeyContainer) rather than a seed file;
// such sources need the credential.
bool is_pskc_source(const std::filesystem::path& source);

// Holds the seed-folder locks of the sources' folders and the users file's.
// Fails with the input's fault when anything was refused and the users file
// was not touched; with Unrecorded when it could not be written.
core::OpResult<OathUsersConversionReport>
convert_to_oath_users(const OathUsersConversionRequest& request,
                      const std::optional<pskc::Credential>& credential);

} // namespace otp::records
