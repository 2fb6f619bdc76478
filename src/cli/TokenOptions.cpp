#include "cli/TokenOptions.h"

#include "cli/ExitCode.h"
#include "core/Codecs.h"
#include "programming/NewToken.h"
#include "records/SeedFileRecorder.h"
#include "records/SeedFolder.h"

#include <fmt/chrono.h>

#include <algorithm>
#include <ostream>

using namespace otp::core;
using namespace otp::device;
using namespace otp::pskc;
using namespace otp::records;
using namespace otp::programming;

namespace otp::cli {

void add_token_options(CLI::App& command, TokenOptions& options)
{
    command.add_option("-t,--type", options.type, "OTP type: hotp or totp")
        ->check(CLI::Validator(
            [](std::string& text) {
                return parse_algorithm(text) ? std::string() : "hotp or totp, not '" + text + "'";
            },
            "hotp|totp"))
        ->capture_default_str();
    command.add_option("-H,--hash", options.hash, "Hash: sha1 or sha256")
        ->check(CLI::Validator(
            [](std::string& text) {
                return parse_hash(text) ? std::string() : "sha1 or sha256, not '" + text + "'";
            },
            "sha1|sha256"))
        ->capture_default_str();
    command.add_option("-d,--digits", options.digits, "Digits of an OTP")
        ->check(CLI::IsMember({6, 8}))
        ->capture_default_str();
    command.add_option("-i,--interval", options.interval, "TOTP time step in seconds")
        ->check(CLI::IsMember({30, 60}))
        ->capture_default_str();
    command.add_option("-u,--user", options.user,
                       "User the token is for (UPN column, name element, PSKC UserId)");
    command.add_flag("--enter,!--no-enter", options.enter,
                     "Whether the key types ENTER after an OTP (default: on)");
    command.add_flag("--verify", options.verify,
                     "TOTP: compare the key's OTP with the seed's after programming, and "
                     "say what was compared");
    command.add_option(
        "-o,--out-dir", options.outDir,
        "Folder of the seed files (default: the seed folder in use, as info names it)");
    auto* pskc = command.add_option("--pskc", options.pskcFile,
                                    "Also add each token to this encrypted PSKC file (RFC 6030), "
                                    "created owner-only when missing");
    add_pskc_credential_options(command, options.pskcCredential, pskc);
    add_pskc_profile_option(command, options.pskcCredential, pskc);
    auto* oathUsers =
        command.add_option("--oath-users", options.oathUsersFile,
                           "Also add each token to this pam_oath users file (SHA-1 tokens with "
                           "a user name), created owner-only when missing");
    command
        .add_flag("--oath-users-replace", options.oathUsersReplace,
                  "Replace the line of a user the users file holds already")
        ->needs(oathUsers);
    command.add_flag("--no-plaintext", options.noPlaintext,
                     "With --pskc or --oath-users: write no clear-text seed file at all");
    command.add_flag("--show-seed", options.showSeed, "Also print the seed");
    command.add_flag("-j,--json", options.json, "One JSON document on standard output");
}

OtpAlgorithm algorithm_of(const TokenOptions& options)
{
    return parse_algorithm(options.type).value_or(OtpAlgorithm::Totp);
}

OtpHash hash_of(const TokenOptions& options)
{
    return parse_hash(options.hash).value_or(OtpHash::Sha1);
}

std::optional<std::string> token_options_problem(const TokenOptions& options)
{
    if (options.verify && algorithm_of(options) == OtpAlgorithm::Hotp)
        return "--verify works on TOTP tokens only: it would move a HOTP token's counter";
    if (options.noPlaintext && options.pskcFile.empty() && options.oathUsersFile.empty())
        return "--no-plaintext needs --pskc or --oath-users: the seeds must go somewhere";
    return std::nullopt;
}

namespace {

// What the CLI offers when the CSV seed file cannot hold a name.
constexpr const char* kCsvWayOut = "With --pskc FILE --no-plaintext the token goes to the "
                                   "encrypted PSKC file only, which can hold it.";

} // namespace

OpResult<void> check_token_texts(const TokenOptions& options, const std::string& serial,
                                 const std::string& user)
{
    if (auto checked = check_user_name(user); !checked)
        return checked;
    if (options.noPlaintext)
        return {};
    TokenDescription texts;
    texts.algorithm = algorithm_of(options); // an HOTP token's CSV file has no user column
    texts.serial = serial;
    texts.user = user;
    if (auto csv = check_csv_fields(texts); !csv)
        return fail(Fault::Refused, csv.error().detail + " " + kCsvWayOut);
    return {};
}

std::string verification_line(const ProgrammedToken& programmed)
{
    if (!programmed.verification || !*programmed.verification)
        return {};
    const Verification& v = **programmed.verification;
    return fmt::format("Verified SN={} on key {}: the key's OTP {} equals its seed's {} at "
                       "{:%Y-%m-%d %H:%M:%S} UTC",
                       programmed.token.serial, programmed.keySerial, v.keyOtp, v.seedOtp,
                       fmt::gmtime(v.at));
}

std::filesystem::path seed_directory(const TokenOptions& options)
{
    return options.outDir.empty() ? default_seed_folder() : std::filesystem::path(options.outDir);
}

OpResult<std::unique_ptr<Recorders>> open_recorders_of(const TokenOptions& options)
{
    Destinations destinations{.seedFolder = std::nullopt,
                              .csvWayOut = kCsvWayOut,
                              .pskc = std::nullopt,
                              .oathUsers = std::nullopt,
                              .openFoldersNow = true};
    if (!options.noPlaintext)
        destinations.seedFolder = seed_directory(options);
    if (!options.pskcFile.empty()) {
        auto credential = read_pskc_credential(options.pskcCredential, options.pskcFile);
        if (!credential)
            return std::unexpected(credential.error());
        destinations.pskc = PskcDestination{options.pskcFile, std::move(*credential),
                                            pskc_settings(options.pskcCredential)};
    }
    if (!options.oathUsersFile.empty())
        destinations.oathUsers =
            OathUsersDestination{options.oathUsersFile, options.oathUsersReplace};
    return open_recorders(destinations);
}

namespace {

// On standard error, so that the administrator can still record the token.
void report_unrecorded(CliContext& context, const TokenDescription& token,
                       const std::vector<RecordOutcome>& outcomes)
{
    for (const RecordOutcome& outcome : outcomes)
        if (outcome.failure)
            context.err << "Failed to record the new token in " << outcome.destination.string()
                        << ": " << outcome.failure->detail << '\n';
    context.err << "The token is on the key but its seed is not recorded; record it by hand:\n"
                << "SN=" << token.serial << ", SEED=" << to_hex_upper(token.seed.view())
                << std::endl;
    context.exitCode = ExitCode::SeedFile;
}

} // namespace

namespace {

OpResult<ProgrammedToken> program_input(CliContext& context, KeySession& key,
                                        const TokenOptions& options, const std::string& keySerial,
                                        const Password& access, const NewTokenInput& input,
                                        std::span<Recorder* const> recorders)
{
    // The user name is checked with the rest of the token, and what the CSV
    // seed file cannot hold by its recorder (with kCsvWayOut), once each.
    auto token = check_new_token(input);
    if (!token)
        return std::unexpected(token.error());
    auto programmed = program_token(
        key,
        {.token = std::move(*token),
         .keySerial = keySerial,
         .access = access,
         .appendEnter = options.enter,
         .verify = options.verify},
        recorders,
        {.touch = [&] { context.touchPrompt(); },
         .keyTookToken = {},
         // Before anything else can fail: the seed must not get lost.
         .recorded =
             [&](const TokenDescription& taken, const std::vector<RecordOutcome>& outcomes) {
                 if (std::ranges::any_of(outcomes, [](const auto& o) { return !o.recorded(); }))
                     report_unrecorded(context, taken, outcomes);
             }});
    if (!programmed)
        return programmed;
    if (!programmed->enter)
        return fail(Fault::Device,
                    "Failed to set C/R (error = " + status_hex(programmed->enter.error().status) +
                        ")",
                    programmed->enter.error().status);
    if (programmed->verification && !*programmed->verification)
        return std::unexpected(programmed->verification->error());
    return programmed;
}

NewTokenInput input_of(const TokenOptions& options, const std::string& serial)
{
    return {.algorithm = algorithm_of(options),
            .hash = hash_of(options),
            .digits = options.digits,
            .interval = options.interval,
            .serial = serial,
            .seedHex = {},
            .seed = {},
            .user = options.user};
}

} // namespace

OpResult<ProgrammedToken> program_one(CliContext& context, KeySession& key,
                                      const TokenOptions& options, const std::string& keySerial,
                                      const Password& access, const std::string& serial,
                                      std::string_view seedHex,
                                      std::span<Recorder* const> recorders)
{
    NewTokenInput input = input_of(options, serial);
    input.seedHex = seedHex;
    return program_input(context, key, options, keySerial, access, input, recorders);
}

OpResult<ProgrammedToken> program_one(CliContext& context, KeySession& key,
                                      const TokenOptions& options, const std::string& keySerial,
                                      const Password& access, const std::string& serial,
                                      const SecretBytes& seed, std::span<Recorder* const> recorders)
{
    NewTokenInput input = input_of(options, serial);
    input.seed = seed;
    return program_input(context, key, options, keySerial, access, input, recorders);
}

std::vector<std::string> recorded_in(const ProgrammedToken& programmed)
{
    std::vector<std::string> paths;
    for (const RecordOutcome& outcome : programmed.records)
        if (outcome.recorded())
            paths.push_back(outcome.destination.string());
    return paths;
}

} // namespace otp::cli
