#include "cli/CliJson.h"
#include "cli/Commands.h"

#include "cli/ExitCode.h"
#include "cli/HeldSerials.h"
#include "cli/PrintableText.h"
#include "cli/SecretInput.h"
#include "cli/TokenOptions.h"
#include "core/Codecs.h"
#include "pskc/PskcFile.h"
#include "records/Destinations.h"
#include "records/FolderLock.h"

using namespace otp::core;
using namespace otp::device;
using namespace otp::pskc;
using namespace otp::records;
using namespace otp::tokens;
using namespace otp::programming;

namespace otp::cli {

namespace {

struct ProgramOptions
{
    TokenOptions token;
    std::string serial;
    std::string seedFile;
    std::string replaceFor; // the user whose lost key this token replaces
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

// The tokens of `user` that the PSKC file holds active: what --replace-for
// retires once the new token is recorded.
std::vector<std::string> active_tokens_of(const Recorders& recorders, const std::string& user)
{
    std::vector<std::string> serials;
    if (const pskc::Container* container = recorders.pskcContainer())
        for (const pskc::KeyPackage& p : container->packages())
            if (p.userId == user && !pskc::is_retired(p, std::time(nullptr)))
                serials.push_back(p.keyId);
    return serials;
}

// Retires the old tokens in the PSKC file under its folder's lock, the file
// read afresh: the new token went in meanwhile.
OpResult<void> retire_in_pskc(const std::filesystem::path& file, const pskc::Credential& credential,
                              const std::vector<std::string>& serials)
{
    const auto held = lock_file_folder(file, "the PSKC file");
    if (!held)
        return std::unexpected(held.error());
    auto container = pskc::load_container(held->file, credential);
    if (!container)
        return std::unexpected(container.error());
    for (const std::string& serial : serials)
        if (auto retired = container->retire(serial, std::time(nullptr)); !retired)
            return retired;
    return pskc::save_container(*container, held->file);
}

void run_program(CliContext& context, ProgramOptions options)
{
    if (!options.replaceFor.empty()) {
        if (!options.token.user.empty() && options.token.user != options.replaceFor) {
            context.fail(ExitCode::Usage, "--replace-for and --user name two users; the new "
                                          "token is for the user whose key it replaces");
            return;
        }
        if (options.token.pskcFile.empty() && options.token.oathUsersFile.empty()) {
            context.fail(ExitCode::Usage,
                         "--replace-for revokes the old token where it is recorded: give "
                         "--pskc, --oath-users or both");
            return;
        }
        options.token.user = options.replaceFor;
        // The user's line gives way to the new token's.
        options.token.oathUsersReplace = true;
    }
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

    auto recorders = open_recorders_of(options.token);
    if (!recorders) {
        context.fail(recorders.error());
        return;
    }
    // A user with nothing to replace is most likely a mistyped name: the token
    // meant to take the place of a lost one would go to a new user, and the
    // lost one would still log in.
    bool replacesLine = false;
    const std::vector<std::string> replaced =
        options.replaceFor.empty() ? std::vector<std::string>()
                                   : active_tokens_of(**recorders, options.replaceFor);
    if (!options.replaceFor.empty()) {
        if (OathUsersRecorder* users = (*recorders)->oathUsers()) {
            const auto holds = users->holds_user(options.replaceFor);
            if (!holds) {
                context.fail(holds.error());
                return;
            }
            replacesLine = *holds;
        }
        if (!replacesLine && replaced.empty()) {
            std::vector<std::string> none;
            if (!options.token.oathUsersFile.empty())
                none.push_back("no line in the pam_oath users file " + options.token.oathUsersFile);
            if (!options.token.pskcFile.empty())
                none.push_back("no active token in the PSKC file " + options.token.pskcFile);
            context.fail(ExitCode::Usage,
                         "--replace-for: \"" + printable(options.replaceFor) + "\" has " +
                             listed(none) +
                             ": there is no token to replace. Check the name; a user's first "
                             "token is programmed with --user");
            return;
        }
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
    // A serial the files hold already would make two tokens of one for a
    // server that imports them.
    const HeldSerials held = HeldSerials::read(options.token, **recorders);
    std::string serial = options.serial;
    if (serial.empty() || held.holder(serial)) {
        auto proposed = propose_serial(key, *keySerial, held.serials());
        if (!proposed) {
            context.fail(proposed.error());
            return;
        }
        if (!serial.empty()) {
            context.fail(ExitCode::Usage,
                         *held.holder(serial) + " already holds the token " + printable(serial) +
                             "; give --serial a serial number no destination holds, such as " +
                             *proposed);
            return;
        }
        serial = *proposed;
    }
    OpResult<SecretBytes> generated;
    if (seedText.empty()) {
        generated = generate_seed_bytes(hash_of(options.token));
        if (!generated) {
            context.fail(generated.error());
            return;
        }
    }

    const auto programmed = seedText.empty()
                                ? program_one(context, key, options.token, *keySerial, *access,
                                              serial, *generated, (*recorders)->all())
                                : program_one(context, key, options.token, *keySerial, *access,
                                              serial, seedText.text(), (*recorders)->all());
    if (!programmed) {
        context.fail(programmed.error());
        return;
    }

    // Only once the new token is recorded: a failure in between leaves the
    // user with two tokens, never with none.
    std::vector<std::string> revoked;
    if (!options.replaceFor.empty() && programmed->recorded()) {
        if (replacesLine)
            revoked.push_back("replaced the line of " + printable(options.replaceFor) + " in " +
                              options.token.oathUsersFile);
        if (!replaced.empty()) {
            auto retired =
                retire_in_pskc(options.token.pskcFile, *(*recorders)->pskcCredential(), replaced);
            if (!retired)
                context.fail(ExitCode::SeedFile, retired.error().detail + "; retire " +
                                                     listed(replaced) +
                                                     " with vnotp-cli pskc retire");
            else
                revoked.push_back("retired " + listed(replaced) + " in " + options.token.pskcFile);
        }
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
    if (!revoked.empty()) {
        revoked.front()[0] = static_cast<char>(std::toupper(revoked.front()[0]));
        context.out << listed(revoked) << '\n';
    }
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
    command->add_option("--replace-for", options->replaceFor,
                        "USER lost their key: the new token is for USER, replaces USER's line "
                        "in the --oath-users file and retires USER's tokens in the --pskc file");
    command->callback([&context, options] { run_program(context, *options); });
}

} // namespace otp::cli
