#include "cli/TokenOptions.h"

#include "cli/ExitCode.h"
#include "programming/SeedDirectory.h"
#include "programming/SeedHandling.h"
#include "tokens/TokenCommands.h"

#include <ctime>
#include <ostream>

void add_token_options(CLI::App& command, TokenOptions& options)
{
    command.add_option("--type", options.type, "OTP type")
        ->check(CLI::IsMember({"hotp", "totp"}))
        ->capture_default_str();
    command.add_option("--hash", options.hash, "Hash")
        ->check(CLI::IsMember({"sha1", "sha256"}))
        ->capture_default_str();
    command.add_option("--digits", options.digits, "Digits of an OTP")
        ->check(CLI::IsMember({6, 8}))
        ->capture_default_str();
    command.add_option("--interval", options.interval, "TOTP time step in seconds")
        ->check(CLI::IsMember({30, 60}))
        ->capture_default_str();
    command.add_option("--user", options.user, "User the token is for (UPN column, name element)");
    command.add_flag("--enter,!--no-enter", options.enter,
                     "Whether the key types ENTER after an OTP (default: on)");
    command.add_flag("--verify", options.verify,
                     "TOTP: compare the key's OTP with the seed's after programming");
    command.add_option("--out-dir", options.outDir,
                       "Folder of the seed files (default: where the window writes them)");
    auto* pskc = command.add_option("--pskc", options.pskcFile,
                                    "Also add each token to this encrypted PSKC file (RFC 6030), "
                                    "created owner-only when missing");
    add_pskc_credential_options(command, options.pskcCredential, pskc);
    command
        .add_flag("--no-plaintext", options.noPlaintext,
                  "With --pskc: write no clear-text seed file at all")
        ->needs(pskc);
    command.add_flag("--show-seed", options.showSeed, "Also print the seed");
    command.add_flag("--json", options.json, "One JSON document on standard output");
}

std::optional<std::string> token_options_problem(const TokenOptions& options)
{
    if (options.verify && options.type == "hotp")
        return "--verify works on TOTP tokens only: it would move a HOTP token's counter";
    return std::nullopt;
}

QString seed_directory(const TokenOptions& options)
{
    return options.outDir.empty() ? default_seed_directory()
                                  : QString::fromStdString(options.outDir);
}

OpResult<ProgrammedToken> program_one(CliContext& context, const TokenOptions& options,
                                      const std::string& access, const std::string& serial,
                                      const QString& seedText,
                                      std::span<TokenRecorder* const> recorders)
{
    NewTokenForm form;
    form.algorithmChoice = options.type == "hotp" ? 0 : 1;
    form.hashChoice = options.hash == "sha1" ? 0 : 1;
    form.digitsChoice = options.digits == 6 ? 0 : 1;
    form.intervalChoice = options.interval == 30 ? 0 : 1;
    form.appendEnter = options.enter;
    form.serialText = QString::fromLocal8Bit(serial);
    form.seedText = seedText;
    form.userName = QString::fromStdString(options.user);

    auto programmed =
        program_token(context.device, access, form, recorders, [&] { context.touchPrompt(); });
    if (!programmed)
        return programmed;
    // Before anything else can fail: the seed must not get lost.
    if (!programmed->recordFailures.isEmpty())
        report_unrecorded(context, *programmed);
    // As the window does after every saved token.
    if (auto enter = set_enter_flag(context.device, options.enter); !enter)
        return std::unexpected(OpError{Fault::Device, enter.error().status,
                                       QStringLiteral("Failed to set C/R (error = %1)")
                                           .arg(status_hex(enter.error().status))});
    if (options.verify) {
        context.touchPrompt();
        if (auto verified =
                verify_token(context.device, programmed->token, access, std::time(nullptr));
            !verified)
            return std::unexpected(verified.error());
    }
    return programmed;
}

nlohmann::json token_json(const ProgrammedToken& programmed, const QStringList& recordedIn,
                          bool showSeed)
{
    const SeedFileToken& t = programmed.token;
    nlohmann::json json = {
        {"serial", t.serial},
        {"type", t.algorithm == OtpAlgorithm::Hotp ? "hotp" : "totp"},
        {"hash", t.hash == OtpHash::Sha1 ? "sha1" : "sha256"},
        {"digits", t.digits},
        {"interval", t.interval},
        {"recorded", programmed.recordFailures.isEmpty()},
        {"recordedIn", nlohmann::json::array()},
    };
    for (const QString& path : recordedIn)
        json["recordedIn"].push_back(path.toStdString());
    if (showSeed)
        json["seed"] = to_hex_upper(t.seed);
    return json;
}

void report_unrecorded(CliContext& context, const ProgrammedToken& programmed)
{
    context.err << QString(programmed.recordFailures)
                       .replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
                       .toStdString();
    context.err << "The token is on the key but its seed is not recorded; record it by hand:\n"
                << "SN=" << programmed.token.serial
                << ", SEED=" << to_hex_upper(programmed.token.seed) << std::endl;
    context.exitCode = ExitCode::SeedFile;
}
