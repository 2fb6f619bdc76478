#pragma once

// The options that describe a new token, shared by `program` and `batch`, and
// the programming of one token with them: the same checks, key record and
// records as the New Token dialog, the ENTER flag and, if asked, the
// verification.

#include "cli/CliContext.h"
#include "cli/PskcOptions.h"
#include "programming/ProgramToken.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <span>
#include <string>

struct TokenOptions
{
    std::string type = "totp"; // any case; checked and mapped once by choices()
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
    bool noPlaintext = false; // only with pskcFile: no clear-text seed file at all
};

void add_token_options(CLI::App& command, TokenOptions& options);

// The typed choices of the options (the texts are checked when parsed).
OtpAlgorithm algorithm_of(const TokenOptions& options);
OtpHash hash_of(const TokenOptions& options);

// Refuses option combinations the key could not honour (--verify on HOTP).
std::optional<std::string> token_options_problem(const TokenOptions& options);

std::filesystem::path seed_directory(const TokenOptions& options);

// Programs one token with the given serial number and seed text on the key
// `keySerial`. A token the key took but that could not be recorded is
// reported on standard error at once (exit code 5); the answer then says so.
OpResult<ProgrammedToken> program_one(CliContext& context, KeySession& key,
                                      const TokenOptions& options, const std::string& keySerial,
                                      const Password& access, const std::string& serial,
                                      std::string_view seedHex,
                                      std::span<Recorder* const> recorders);

// The token as --json shows it; the seed only with --show-seed.
nlohmann::json token_json(const ProgrammedToken& token, bool showSeed);

// The files the token went to.
std::vector<std::string> recorded_in(const ProgrammedToken& token);
