#include "cli/Commands.h"
#include "cli/ExitCode.h"
#include "cli/PrintableText.h"
#include "cli/PskcOptions.h"
#include "pskc/PskcFile.h"
#include "records/FolderLock.h"

#include <algorithm>
#include <ostream>

using namespace otp::core;
using namespace otp::device;
using namespace otp::pskc;
using namespace otp::records;

namespace otp::cli {

namespace {

struct RetireOptions
{
    std::string file;
    std::vector<std::string> serials;
    PskcCredentialOptions credential;
};

void run_retire(CliContext& context, const RetireOptions& options)
{
    auto credential = read_pskc_credential(options.credential, options.file, context.err);
    if (!credential) {
        context.fail(credential.error());
        return;
    }
    // Under the folder's seed-file lock: a batch adding to the file meanwhile
    // keeps its token, and this retirement is not written over.
    const auto held = lock_file_folder(options.file, "the PSKC file");
    if (!held) {
        context.fail(held.error());
        return;
    }
    auto container = pskc::load_container(held->file, *credential);
    if (!container) {
        context.fail(container.error());
        return;
    }
    const std::time_t now = std::time(nullptr);
    std::vector<std::string> lines;
    for (const std::string& serial : options.serials) {
        const auto& packages = container->packages();
        const auto held = std::ranges::find(packages, serial, &pskc::KeyPackage::keyId);
        if (held != packages.end() && pskc::is_retired(*held, now)) {
            lines.push_back("Token " + printable(serial) + " was retired already, on " +
                            printable(held->expiryDate));
            continue;
        }
        if (auto retired = container->retire(serial, now); !retired) {
            context.fail(ExitCode::Usage, options.file + ": " + retired.error().detail +
                                              " (pskc show lists its tokens); nothing retired");
            return;
        }
        const auto& p = *std::ranges::find(packages, serial, &pskc::KeyPackage::keyId);
        lines.push_back("Retired token " + printable(serial) +
                        (p.userId.empty() ? "" : " of \"" + printable(p.userId) + "\"") +
                        (p.deviceSerial.empty() ? "" : " on key " + printable(p.deviceSerial)));
    }
    if (auto saved = pskc::save_container(*container, held->file); !saved) {
        context.fail(ExitCode::SeedFile, saved.error().detail + "; nothing retired");
        return;
    }
    for (const std::string& line : lines)
        context.out << line << " in " << options.file << '\n';
}

} // namespace

void add_pskc_retire_command(CLI::App& pskc, CliContext& context)
{
    auto* command = pskc.add_subcommand(
        "retire", "Retires tokens of a lost or replaced key in a PSKC file: servers importing it "
                  "no longer accept them, pskc show and pskc convert leave them out");
    auto options = std::make_shared<RetireOptions>();
    command->add_option("FILE", options->file, "The PSKC file")->required();
    command->add_option("SERIAL", options->serials, "Serial numbers of the tokens")->required();
    add_pskc_credential_options(*command, options->credential);
    command->callback([&context, options] { run_retire(context, *options); });
}

} // namespace otp::cli
