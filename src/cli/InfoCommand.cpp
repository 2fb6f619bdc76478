#include "cli/CliJson.h"
#include "cli/Commands.h"

#include "records/SeedFolder.h"
#include "tokens/TokenCommands.h"

using namespace otp::core;
using namespace otp::device;
using namespace otp::records;
using namespace otp::tokens;
using namespace otp::programming;

namespace otp::cli {

void add_info_command(CLI::App& app, CliContext& context)
{
    auto* command = app.add_subcommand(
        "info", "The key's serial number, PIN protection mode, PIN policy and PIN, token count; "
                "the seed folder in use");
    auto json = std::make_shared<bool>(false);
    command->add_flag("-j,--json", *json, "One JSON document on standard output");
    command->callback([&context, json] {
        KeySession key(context.device);
        const auto info = describe_key(key);
        if (!info) {
            context.fail(info.error());
            return;
        }
        const std::string seedFolder = default_seed_folder().string();
        if (*json) {
            auto document = json_document("info");
            document["key"] = key_json(*info);
            document["seedFolder"] = seedFolder;
            print_json(context.out, document);
            return;
        }
        context.out << "Serial number:       " << info->serial << '\n'
                    << "PIN protection mode: " << info->pinMode
                    << (info->pinMode == 0 ? " (hardware)" : " (software)") << '\n'
                    << "PIN policy:          " << (info->pinPolicyOn ? "on" : "off") << '\n'
                    << "PIN set:             " << (info->pinSet ? "yes" : "no") << '\n'
                    << "Tokens:              " << info->tokenCount << '\n'
                    << "Seed folder:         " << seedFolder << '\n';
    });
}

} // namespace otp::cli
