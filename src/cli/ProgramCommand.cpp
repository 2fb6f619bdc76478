#include "cli/CliJson.h"
#include "cli/Commands.h"

#include "cli/ExitCode.h"
#include "cli/Recorders.h"
#include "cli/TokenOptions.h"
#include "core/Codecs.h"

#include <fstream>
#include <iostream>

namespace {

struct ProgramOptions
{
    TokenOptions token;
    std::string serial;
    std::string seedFile;
};

// The seed's hexadecimal text from the first line of a file, "-" for standard
// input. A seed never travels as an option value: the process list shows those.
std::optional<std::string> read_seed_text(const std::string& path)
{
    std::string line;
    if (path == "-") {
        std::getline(std::cin, line);
    } else {
        std::ifstream file(path);
        if (!file)
            return std::nullopt;
        std::getline(file, line);
    }
    const auto first = line.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return std::string();
    return line.substr(first, line.find_last_not_of(" \t\r\n") - first + 1);
}

// "a, b and c"
std::string listed(const std::vector<std::string>& items)
{
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i)
        text += (i == 0 ? "" : i + 1 == items.size() ? " and " : ", ") + items[i];
    return text;
}

void run_program(CliContext& context, const ProgramOptions& options)
{
    if (auto problem = token_options_problem(options.token)) {
        context.fail(ExitCode::Usage, *problem);
        return;
    }
    if (options.seedFile == "-" && context.pinStdin) {
        context.fail(ExitCode::Usage,
                     "--seed-file - and --pin-stdin cannot both read standard input");
        return;
    }
    std::string seedText;
    if (!options.seedFile.empty()) {
        auto text = read_seed_text(options.seedFile);
        if (!text) {
            context.fail(ExitCode::Usage, "cannot read the seed file " + options.seedFile);
            return;
        }
        seedText = *text;
    }

    auto recorders = Recorders::open(options.token);
    if (!recorders) {
        context.fail(recorders.error());
        return;
    }
    KeySession key(context.device);
    const auto keySerial = key.find_key();
    if (!keySerial) {
        context.fail(keySerial.error());
        return;
    }
    const auto access = context.access(key);
    if (!access) {
        context.fail(access.error());
        return;
    }
    std::string serial = options.serial;
    if (serial.empty()) {
        auto proposed = propose_serial(key, *keySerial);
        if (!proposed) {
            context.fail(proposed.error());
            return;
        }
        serial = *proposed;
    }
    if (seedText.empty()) {
        auto generated = generate_seed_text(hash_of(options.token));
        if (!generated) {
            context.fail(generated.error());
            return;
        }
        seedText = *generated;
    }

    const auto programmed = program_one(context, key, options.token, *keySerial, *access, serial,
                                        seedText, (*recorders)->all());
    if (!programmed) {
        context.fail(programmed.error());
        return;
    }

    if (options.token.json) {
        auto document = json_document("program");
        document["key"] = {{"serial", *keySerial}};
        document["tokens"] = {token_json(*programmed, options.token.showSeed)};
        print_json(context.out, document);
        return;
    }
    context.out << "SN=" << programmed->token.serial << " programmed on key " << *keySerial << '\n';
    if (options.token.showSeed)
        context.out << "SEED=" << to_hex_upper(programmed->token.seed.view()) << '\n';
    if (programmed->verification)
        context.out << verification_line(*programmed) << '\n';
    if (programmed->recorded())
        context.out << "Recorded in " << listed(recorded_in(*programmed)) << '\n';
}

} // namespace

void add_program_command(CLI::App& app, CliContext& context)
{
    auto* command =
        app.add_subcommand("program", "Programs one token and records its seed in the seed files");
    auto options = std::make_shared<ProgramOptions>();
    add_token_options(*command, options->token);
    command->add_option("-s,--serial", options->serial,
                        "Serial number (default: the next proposal, as the window proposes it)");
    command->add_option("--seed-file", options->seedFile,
                        "File whose first line is the seed in hexadecimal, - for standard input "
                        "(default: a generated seed)");
    command->callback([&context, options] { run_program(context, *options); });
}
