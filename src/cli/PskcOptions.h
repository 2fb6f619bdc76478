#pragma once

// The password or key of a PSKC file, as every command that reads or writes
// one takes it: --pskc-password-file (its first line), --pskc-key-file
// (hexadecimal AES key), or else a prompt without echo on the terminal.

#include "pskc/PskcContainer.h"

#include <CLI/CLI.hpp>

#include <expected>
#include <filesystem>
#include <iostream>
#include <string>

namespace otp::cli {

struct PskcCredentialOptions
{
    std::string passwordFile;
    std::string keyFile;
    std::string profile; // --pskc-profile of the commands that create a file; empty: not given
};

// The options need `needs` when it is given (program and batch: --pskc).
void add_pskc_credential_options(CLI::App& command, PskcCredentialOptions& options,
                                 CLI::Option* needs = nullptr);

// --pskc-profile interop|strong, for the commands that create or extend a
// file; it needs `needs` when given.
void add_pskc_profile_option(CLI::App& command, PskcCredentialOptions& options,
                             CLI::Option* needs = nullptr);
// A new file's settings: the profile given, else the default; an existing
// file given another profile is refused when it is extended.
pskc::ContainerSettings pskc_settings(const PskcCredentialOptions& options);

// Asks for the password when no file is given: twice when `file` does not
// exist yet, since a mistyped password would lock its tokens away. A password
// or key file that group or others can read is warned about on `err`.
core::OpResult<pskc::Credential> read_pskc_credential(const PskcCredentialOptions& options,
                                                      const std::filesystem::path& file,
                                                      std::ostream& err = std::cerr);

} // namespace otp::cli
