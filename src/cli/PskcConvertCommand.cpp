#include "cli/Commands.h"
#include "cli/ExitCode.h"
#include "cli/PskcOptions.h"
#include "records/ContainerConversion.h"
#include "records/OathUsersConversion.h"

#include <algorithm>
#include <ostream>

using namespace otp::core;
using namespace otp::device;
using namespace otp::pskc;
using namespace otp::records;

namespace otp::cli {

namespace {

struct ConvertOptions
{
    std::vector<std::string> sources;
    std::string out;
    int digits = 0;
    bool removeSources = false;
    PskcCredentialOptions credential;
    std::string oathUsers;
    bool oathUsersReplace = false;
};

// --oath-users: before the PSKC file, so that its refusals come first.
bool convert_to_users_file(CliContext& context, const ConvertOptions& options,
                           const std::optional<pskc::Credential>& credential)
{
    OathUsersConversionRequest request;
    request.sources.assign(options.sources.begin(), options.sources.end());
    request.out = options.oathUsers;
    request.replace = options.oathUsersReplace;
    if (options.digits != 0)
        request.options.digits = options.digits;
    const auto report = convert_to_oath_users(request, credential);
    if (!report) {
        context.fail(report.error());
        return false;
    }
    if (options.out.empty())
        for (const std::string& note : report->notes)
            context.err << "vnotp-cli: " << note << '\n';
    context.out << report->added.size() << (report->added.size() == 1 ? " token" : " tokens")
                << " written to " << options.oathUsers << '\n';
    return true;
}

void run_convert(CliContext& context, const ConvertOptions& options)
{
    if (options.out.empty() && options.oathUsers.empty()) {
        context.fail(ExitCode::Usage, "pskc convert needs --out, --oath-users or both");
        return;
    }
    // A users file from seed files alone needs no password.
    std::optional<pskc::Credential> credential;
    const auto pskcSource = std::ranges::find_if(
        options.sources, [](const std::string& source) { return is_pskc_source(source); });
    if (!options.out.empty() || pskcSource != options.sources.end()) {
        auto read = read_pskc_credential(options.credential,
                                         options.out.empty() ? *pskcSource : options.out);
        if (!read) {
            context.fail(read.error());
            return;
        }
        credential = std::move(*read);
    }
    if (!options.oathUsers.empty() && !convert_to_users_file(context, options, credential))
        return;
    if (options.out.empty())
        return;
    ConversionRequest request;
    request.sources.assign(options.sources.begin(), options.sources.end());
    request.out = options.out;
    if (options.digits != 0)
        request.options.digits = options.digits;
    request.removeSources = options.removeSources;

    const auto report =
        convert_to_container(request, *credential, pskc_settings(options.credential));
    if (!report) {
        context.fail(exit_code_for(report.error().fault),
                     report.error().detail +
                         (options.removeSources ? "; the seed files are kept" : ""));
        return;
    }
    for (const std::string& note : report->notes)
        context.err << "vnotp-cli: " << note << '\n';
    context.out << report->added.size() << (report->added.size() == 1 ? " token" : " tokens")
                << (report->created ? " written to " : " added to ") << options.out;
    if (!report->alreadyPresent.empty())
        context.out << ", " << report->alreadyPresent.size() << " already there";
    context.out << '\n';
    if (report->sourcesRemoved) {
        context.out << "Removed";
        for (const std::string& source : options.sources)
            context.out << ' ' << source;
        context.out << '\n';
    }
}

} // namespace

void add_pskc_convert_command(CLI::App& pskc, CliContext& context)
{
    auto* command = pskc.add_subcommand(
        "convert", "Turns clear-text seed files (hseeds/tseeds .csv/.xml, any mix) into one "
                   "encrypted PSKC file, created or extended");
    auto options = std::make_shared<ConvertOptions>();
    command
        ->add_option("FILE", options->sources,
                     "Seed files to convert (for --oath-users alone also PSKC files)")
        ->required();
    auto* out = command->add_option("--out", options->out, "The PSKC file to write");
    add_pskc_credential_options(*command, options->credential);
    add_pskc_profile_option(*command, options->credential, out);
    auto* oathUsers = command->add_option(
        "--oath-users", options->oathUsers,
        "Also, or instead, write the tokens to this pam_oath users file; PSKC files may then be "
        "among the sources");
    command
        ->add_flag("--oath-users-replace", options->oathUsersReplace,
                   "Replace the line of a user the users file holds already")
        ->needs(oathUsers);
    command
        ->add_option("--digits", options->digits,
                     "Digits of the TOTP tokens that only tseeds.csv lists")
        ->check(CLI::IsMember({6, 8}));
    command
        ->add_flag("--remove-sources", options->removeSources,
                   "Delete the seed files once the PSKC file has been read back and every "
                   "secret found equal")
        ->needs(out)
        ->excludes(oathUsers);
    command->callback([&context, options] { run_convert(context, *options); });
}

} // namespace otp::cli
