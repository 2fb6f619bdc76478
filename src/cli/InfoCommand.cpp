#include "cli/Commands.h"

#include "tokens/TokenCommands.h"

#include <nlohmann/json.hpp>

void add_info_command(CLI::App& app, CliContext& context)
{
    auto* command = app.add_subcommand(
        "info", "The key's serial number, PIN protection mode, PIN policy and PIN, token count");
    auto json = std::make_shared<bool>(false);
    command->add_flag("--json", *json, "One JSON document on standard output");
    command->callback([&context, json] {
        KeySession key(context.device);
        const auto info = describe_key(key);
        if (!info) {
            context.fail(info.error());
            return;
        }
        if (*json) {
            context.out << nlohmann::json{{"serial", info->serial},
                                          {"pinMode", info->pinMode},
                                          {"pinPolicy", info->pinPolicyOn},
                                          {"pinSet", info->pinSet},
                                          {"tokens", info->tokenCount}}
                               .dump(2)
                        << '\n';
            return;
        }
        context.out << "Serial number:       " << info->serial << '\n'
                    << "PIN protection mode: " << info->pinMode
                    << (info->pinMode == 0 ? " (hardware)" : " (software)") << '\n'
                    << "PIN policy:          " << (info->pinPolicyOn ? "on" : "off") << '\n'
                    << "PIN set:             " << (info->pinSet ? "yes" : "no") << '\n'
                    << "Tokens:              " << info->tokenCount << '\n';
    });
}
