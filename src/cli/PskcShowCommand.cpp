#include "cli/Commands.h"
#include "cli/ExitCode.h"
#include "cli/PskcOptions.h"
#include "core/Codecs.h"
#include "pskc/PskcFile.h"

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include <ostream>

namespace {

struct ShowOptions
{
    std::string file;
    PskcCredentialOptions credential;
    bool showSeed = false;
    bool json = false;
};

void run_show(CliContext& context, const ShowOptions& options)
{
    auto credential = read_pskc_credential(options.credential, options.file);
    if (!credential) {
        context.fail(credential.error());
        return;
    }
    // Every MAC is verified before anything is shown.
    const auto container = pskc::load_container(options.file, *credential);
    if (!container) {
        context.fail(container.error());
        return;
    }
    nlohmann::json rows = nlohmann::json::array();
    for (const pskc::KeyPackage& p : container->packages()) {
        const std::string type = p.algorithm == OtpAlgorithm::Hotp ? "HOTP" : "TOTP";
        const std::string hash = p.hash == OtpHash::Sha1 ? "SHA-1" : "SHA-256";
        if (options.json) {
            nlohmann::json row = {{"serial", p.keyId},
                                  {"type", type},
                                  {"hash", hash},
                                  {"digits", p.digits ? nlohmann::json(*p.digits) : nullptr},
                                  {"interval", p.interval ? nlohmann::json(*p.interval) : nullptr},
                                  {"user", p.userId}};
            if (options.showSeed)
                row["seed"] = to_hex_upper(p.secret.view());
            rows.push_back(row);
            continue;
        }
        std::string line = fmt::format("{:<14} {:<6} {:<8} {:<6} {:<8} {}", p.keyId, type, hash,
                                       p.digits ? std::to_string(*p.digits) : "-",
                                       p.interval ? std::to_string(*p.interval) : "-", p.userId);
        if (options.showSeed)
            line += (p.userId.empty() ? "" : " ") + std::string("SEED=") +
                    to_hex_upper(p.secret.view());
        line.erase(line.find_last_not_of(' ') + 1);
        context.out << line << '\n';
    }
    if (options.json)
        context.out << nlohmann::json{{"tokens", rows}}.dump(2) << '\n';
}

} // namespace

void add_pskc_show_command(CLI::App& pskc, CliContext& context)
{
    auto* command = pskc.add_subcommand(
        "show", "Lists a PSKC file's tokens (serial, type, hash, digits, interval, user) once "
                "every MAC is verified");
    auto options = std::make_shared<ShowOptions>();
    command->add_option("FILE", options->file, "The PSKC file")->required();
    add_pskc_credential_options(*command, options->credential);
    command->add_flag("--show-seed", options->showSeed, "Also print each seed in hexadecimal");
    command->add_flag("--json", options->json, "One JSON document on standard output");
    command->callback([&context, options] { run_show(context, *options); });
}
