#include "cli/Commands.h"

#include "tokens/TokenCommands.h"

#include <nlohmann/json.hpp>

#include <cstdio>

void add_list_command(CLI::App& app, CliContext& context)
{
    auto* command = app.add_subcommand(
        "list", "The tokens as the window lists them: serial, OTP type, hash, digits, interval");
    auto json = std::make_shared<bool>(false);
    command->add_flag("--json", *json, "One JSON document on standard output");
    command->callback([&context, json] {
        KeySession key(context.device);
        if (auto serial = key.find_key(); !serial) {
            context.fail(serial.error());
            return;
        }
        const auto tokens = key.tokens();
        if (!tokens) {
            context.fail(tokens.error());
            return;
        }
        static const char* const kColumns[] = {"serial", "type", "hash", "digits", "interval"};
        nlohmann::json rows = nlohmann::json::array();
        for (const OtpTokenRecord& record : *tokens) {
            const auto cells = token_cells(record);
            if (*json) {
                nlohmann::json row;
                for (std::size_t i = 0; i < cells.size(); ++i)
                    row[kColumns[i]] = cells[i];
                rows.push_back(row);
            } else {
                char line[160];
                std::snprintf(line, sizeof line, "%-14s %-6s %-8s %-6s %s\n", cells[0].c_str(),
                              cells[1].c_str(), cells[2].c_str(), cells[3].c_str(),
                              cells[4].c_str());
                context.out << line;
            }
        }
        if (*json)
            context.out << nlohmann::json{{"tokens", rows}}.dump(2) << '\n';
    });
}
