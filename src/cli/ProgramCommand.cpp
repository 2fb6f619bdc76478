#include "cli/CliJson.h"
#include "cli/Commands.h"

#include "cli/ExitCode.h"
#include "cli/Recorders.h"
#include "cli/SecretInput.h"
#include "cli/TokenOptions.h"
#include "core/Codecs.h"

namespace {

struct ProgramOptions
{
    TokenOptions token;
    std::string serial;
    std::string seedFile;
};

// The seed's hexadecimal text from the first line of a file, "-" for standard
// input. A seed never travels as an option value: the process list shows those.
// A file that holds no seed is refused: a generated one in its place would
// program a token nobody expects.
OpResult<Password> read_seed_text(const std::string& path)
{
    const std::string name = path == "-" ? "standard input" : "the seed file " + path;
    std::error_code error;
    if (path != "-" && std::filesystem::is_directory(path, error))
        return fail(Fault::Refused, name + " is a folder and holds no seed");
    auto line = read_secret_first_line(path);
    if (!line)
        return fail(Fault::Refused, "cannot read " + name + ": " + line.error().detail);
    const std::string_view text = line->text();
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return fail(Fault::Refused, name + " holds no seed (its first line is empty)");
    return Password(text.substr(first, text.find_last_not_of(" \t\r") - first + 1));
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
    Password seedText;
    if (!options.seedFile.empty()) {
        auto text = read_seed_text(options.seedFile);
        if (!text) {
            context.fail(ExitCode::Usage, text.error().detail);
            return;
        }
        if (options.seedFile != "-")
            warn_if_others_can_read(options.seedFile, context.err);
        seedText = std::move(*text);
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
        seedText = Password(*generated);
        wipe(generated->data(), generated->capacity());
    }

    const auto programmed = program_one(context, key, options.token, *keySerial, *access, serial,
                                        seedText.text(), (*recorders)->all());
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
