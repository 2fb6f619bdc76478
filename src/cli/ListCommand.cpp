#include "cli/Commands.h"

#include "device/Discovery.h"
#include "tokens/TokenCommands.h"
#include "tokens/TokenList.h"

#include <nlohmann/json.hpp>

#include <cstdio>

void add_list_command(CLI::App& app, CliContext& context)
{
    auto* command = app.add_subcommand(
        "list", "The tokens as the window lists them: serial, OTP type, hash, digits, interval");
    auto json = std::make_shared<bool>(false);
    command->add_flag("--json", *json, "One JSON document on standard output");
    command->callback([&context, json] {
        if (auto key = find_the_key(context.device); !key) {
            context.fail(key.error());
            return;
        }
        const auto tokens = list_tokens(context.device);
        if (!tokens) {
            context.fail(tokens.error());
            return;
        }
        static const char* const kColumns[] = {"serial", "type", "hash", "digits", "interval"};
        nlohmann::json rows = nlohmann::json::array();
        for (const OtpTokenRecord& record : *tokens) {
            const QStringList cells = tokenRowCells(record);
            if (*json) {
                nlohmann::json row;
                for (int i = 0; i < 5; ++i)
                    row[kColumns[i]] = cells[i].toStdString();
                rows.push_back(row);
            } else {
                char line[160];
                std::snprintf(line, sizeof line, "%-14s %-6s %-8s %-6s %s\n",
                              cells[0].toLocal8Bit().constData(), cells[1].toUtf8().constData(),
                              cells[2].toUtf8().constData(), cells[3].toUtf8().constData(),
                              cells[4].toUtf8().constData());
                context.out << line;
            }
        }
        if (*json)
            context.out << nlohmann::json{{"tokens", rows}}.dump(2) << '\n';
    });
}
