#pragma once

// The options that describe a new token, shared by `program` and `batch`, and
// the programming of one token with them: the same checks, key record and
// records as the New Token dialog, the ENTER flag and, if asked, the
// verification.

#include "cli/CliContext.h"
#include "cli/PskcOptions.h"
#include "programming/ProgramToken.h"
#include "records/Destinations.h"

#include <CLI/CLI.hpp>

#include <span>
#include <string>

namespace otp::cli {

struct TokenOptions
{
    std::string type = "totp"; // any case; checked when parsed, mapped by algorithm_of()
    std::string hash = "sha1";
    int digits = 6;
    int interval = 30;
    std::string user;
    bool enter = true;
    bool verify = false;
    std::string outDir; // empty: where the window writes the seed files
    bool showSeed = false;
    bool json = false;
    std::string pskcFile; // empty: no encrypted export
    PskcCredentialOptions pskcCredential;
    std::string oathUsersFile; // empty: no pam_oath users file
    bool oathUsersReplace = false;
    bool noPlaintext = false; // only with pskcFile or oathUsersFile: no clear-text seed file
};

void add_token_options(CLI::App& command, TokenOptions& options);

// The typed choices of the options (the texts are checked when parsed).
core::OtpAlgorithm algorithm_of(const TokenOptions& options);
core::OtpHash hash_of(const TokenOptions& options);

// Refuses option combinations the key could not honour (--verify on HOTP),
// and --no-plaintext without another place for the seeds.
std::optional<std::string> token_options_problem(const TokenOptions& options);

// What the records chosen cannot hold in a serial number or user name,
// refused before any key is touched (a batch checks its users so): a bad
// user name, a comma or a leading = where a CSV file is written, with the way
// out (--no-plaintext). Programming a token checks the same itself.
core::OpResult<void> check_token_texts(const TokenOptions& options, const std::string& serial,
                                       const std::string& user);

// "Verified SN=... on key ...: the key's OTP ... equals its seed's ... at
// ... UTC"; empty when the token was not verified.
std::string verification_line(const programming::ProgrammedToken& programmed);

std::filesystem::path seed_directory(const TokenOptions& options);

// The recorders the options choose: the seed files unless --no-plaintext,
// --pskc (its password or key read now) and --oath-users, each folder checked
// before a key is looked for.
core::OpResult<std::unique_ptr<records::Recorders>> open_recorders_of(const TokenOptions& options);

// Programs one token with the given serial number and seed text on the key
// `keySerial`. A token the key took but that could not be recorded is
// reported on standard error at once (exit code 5); the answer then says so.
core::OpResult<programming::ProgrammedToken>
program_one(CliContext& context, device::KeySession& key, const TokenOptions& options,
            const std::string& keySerial, const core::Password& access, const std::string& serial,
            std::string_view seedHex, std::span<records::Recorder* const> recorders);
// The same with a seed generated as bytes.
core::OpResult<programming::ProgrammedToken>
program_one(CliContext& context, device::KeySession& key, const TokenOptions& options,
            const std::string& keySerial, const core::Password& access, const std::string& serial,
            const core::SecretBytes& seed, std::span<records::Recorder* const> recorders);

// The files the token went to.
std::vector<std::string> recorded_in(const programming::ProgrammedToken& token);

} // namespace otp::cli
