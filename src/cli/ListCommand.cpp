#include "cli/CliJson.h"
#include "cli/Commands.h"
#include "core/PrintableText.h"

#include "tokens/TokenCommands.h"

#include <fmt/format.h>

using namespace otp::core;
using namespace otp::device;
using namespace otp::records;
using namespace otp::tokens;
using namespace otp::programming;

namespace otp::cli {

void add_list_command(CLI::App& app, CliContext& context)
{
    auto* command = app.add_subcommand(
        "list", "The tokens as the window lists them: serial, OTP type, hash, digits, interval");
    auto json = std::make_shared<bool>(false);
    command->add_flag("-j,--json", *json, "One JSON document on standard output");
    command->callback([&context, json] {
        KeySession key(context.device);
        const auto serial = key.find_key();
        if (!serial) {
            context.fail(serial.error());
            return;
        }
        const auto tokens = key.tokens();
        if (!tokens) {
            context.fail(tokens.error());
            return;
        }
        auto document = json_document("list");
        document["key"] = {{"serial", *serial}};
        document["tokens"] = nlohmann::json::array();
        for (const ListedToken& token : *tokens) {
            if (*json) {
                document["tokens"].push_back(token_json(token, *serial));
                continue;
            }
            const auto cells = token_cells(token);
            context.out << fmt::format("{:<14} {:<6} {:<8} {:<6} {}\n", printable(cells[0]),
                                       cells[1], cells[2], cells[3], cells[4]);
        }
        if (*json)
            print_json(context.out, document);
    });
}

} // namespace otp::cli
