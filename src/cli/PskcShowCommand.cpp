#include "cli/CliJson.h"
#include "cli/Commands.h"
#include "cli/ExitCode.h"
#include "cli/PskcOptions.h"
#include "core/Codecs.h"
#include "core/PrintableText.h"
#include "pskc/PskcFile.h"

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <map>
#include <ostream>

using namespace otp::core;
using namespace otp::device;
using namespace otp::pskc;
using namespace otp::records;
using namespace otp::tokens;
using namespace otp::programming;

namespace otp::cli {

namespace {

struct ShowOptions
{
    std::string file;
    PskcCredentialOptions credential;
    std::string user;     // only tokens whose user holds this, in any case
    std::string serial;   // only tokens whose serial or key serial holds this
    bool retired = false; // also the tokens retired
    bool showSeed = false;
    bool json = false;
};

bool holds(std::string_view text, std::string_view part)
{
    const auto lower = [](unsigned char c) { return std::tolower(c); };
    return std::ranges::search(text, part, {}, lower, lower).begin() != text.end() || part.empty();
}

bool wanted(const ShowOptions& options, const pskc::KeyPackage& p, std::time_t now)
{
    return (options.retired || !pskc::is_retired(p, now)) && holds(p.userId, options.user) &&
           (holds(p.keyId, options.serial) || holds(p.deviceSerial, options.serial));
}

std::string row_text(const ShowOptions& options, const pskc::KeyPackage& p, std::time_t now)
{
    const auto dash = [](const std::string& text) { return text.empty() ? "-" : printable(text); };
    std::string line = fmt::format(
        "{:<14} {:<12} {:<6} {:<8} {:<6} {:<8} {}", dash(p.keyId), dash(p.deviceSerial),
        algorithm_name(p.algorithm), hash_name(p.hash), p.digits ? std::to_string(*p.digits) : "-",
        p.interval ? std::to_string(*p.interval) : "-", printable(p.userId));
    if (pskc::is_retired(p, now))
        line += (p.userId.empty() ? "" : " ") + ("(retired " + printable(p.expiryDate) + ")");
    if (options.showSeed)
        line +=
            (p.userId.empty() ? "" : " ") + std::string("SEED=") + to_hex_upper(p.secret.view());
    line.erase(line.find_last_not_of(' ') + 1);
    return line;
}

// The PSKC MAC covers each value, not which key package it sits in: a Key Id
// given twice may be a copy, or a secret moved from one token to another.
std::vector<std::string> duplicate_ids(const std::vector<pskc::KeyPackage>& packages)
{
    std::map<std::string, int> seen;
    std::vector<std::string> twice;
    for (const pskc::KeyPackage& p : packages)
        if (++seen[p.keyId] == 2)
            twice.push_back(p.keyId);
    return twice;
}

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
    const auto duplicates = duplicate_ids(container->packages());
    for (const std::string& id : duplicates)
        context.err << "vnotp-cli: warning: " << options.file << " holds the Key Id "
                    << printable(id)
                    << " more than once; its MAC does not prove which secret belongs to it\n";
    const auto profile = container->profile();
    auto document = json_document("pskc show");
    document["file"] = options.file;
    document["profile"] = profile ? nlohmann::json(pskc::profile_name(*profile)) : nullptr;
    document["algorithms"] = container->algorithms();
    document["tokens"] = nlohmann::json::array();
    document["duplicates"] = duplicates;
    if (!options.json)
        context.out << "Profile: "
                    << (profile ? pskc::profile_name(*profile) : "none of this tool's") << " ("
                    << container->algorithms() << ")\n"
                    << fmt::format("{:<14} {:<12} {:<6} {:<8} {:<6} {:<8} {}\n", "SERIAL", "KEY",
                                   "TYPE", "HASH", "DIGITS", "INTERVAL", "USER");
    const std::time_t now = std::time(nullptr);
    for (const pskc::KeyPackage& p : container->packages()) {
        if (!wanted(options, p, now))
            continue;
        if (!options.json) {
            context.out << row_text(options, p, now) << '\n';
            continue;
        }
        auto token = token_json(p, options.showSeed);
        if (pskc::is_retired(p, now))
            token["retired"] = p.expiryDate;
        document["tokens"].push_back(token);
    }
    if (options.json)
        print_json(context.out, document);
}

} // namespace

void add_pskc_show_command(CLI::App& pskc, CliContext& context)
{
    auto* command = pskc.add_subcommand(
        "show", "Names a PSKC file's profile and lists its active tokens (serial, key serial, "
                "type, hash, digits, interval, user) once every MAC is verified");
    auto options = std::make_shared<ShowOptions>();
    command->add_option("FILE", options->file, "The PSKC file")->required();
    add_pskc_credential_options(*command, options->credential);
    command->add_option("-u,--user", options->user,
                        "Only the tokens whose user holds this text (any case)");
    command->add_option("-s,--serial", options->serial,
                        "Only the tokens whose serial or key serial holds this text (any case)");
    command->add_flag("--retired", options->retired,
                      "Also the tokens retired (pskc retire), each marked with its date");
    command->add_flag("--show-seed", options->showSeed, "Also print each seed in hexadecimal");
    command->add_flag("-j,--json", options->json, "One JSON document on standard output");
    command->callback([&context, options] { run_show(context, *options); });
}

} // namespace otp::cli
