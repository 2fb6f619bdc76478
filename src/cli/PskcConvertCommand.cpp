#include "cli/Commands.h"
#include "cli/ExitCode.h"
#include "cli/PskcOptions.h"
#include "records/ContainerConversion.h"

#include <ostream>

namespace {

struct ConvertOptions
{
    std::vector<std::string> sources;
    std::string out;
    int digits = 0;
    bool removeSources = false;
    PskcCredentialOptions credential;
};

void run_convert(CliContext& context, const ConvertOptions& options)
{
    auto credential = read_pskc_credential(options.credential, options.out);
    if (!credential) {
        context.fail(credential.error());
        return;
    }
    ConversionRequest request;
    request.sources.assign(options.sources.begin(), options.sources.end());
    request.out = options.out;
    if (options.digits != 0)
        request.options.digits = options.digits;
    request.removeSources = options.removeSources;

    const auto report = convert_to_container(request, *credential);
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
    command->add_option("FILE", options->sources, "Seed files to convert")->required();
    command->add_option("--out", options->out, "The PSKC file to write")->required();
    add_pskc_credential_options(*command, options->credential);
    command
        ->add_option("--digits", options->digits,
                     "Digits of the TOTP tokens that only tseeds.csv lists")
        ->check(CLI::IsMember({6, 8}));
    command->add_flag("--remove-sources", options->removeSources,
                      "Delete the seed files once the PSKC file has been read back and every "
                      "secret found equal");
    command->callback([&context, options] { run_convert(context, *options); });
}
