#include "cli/UnknownCommand.h"

#include <algorithm>
#include <numeric>
#include <string_view>
#include <vector>

namespace {

// The edit distance (insertions, deletions, substitutions).
std::size_t distance(std::string_view a, std::string_view b)
{
    std::vector<std::size_t> row(b.size() + 1);
    std::iota(row.begin(), row.end(), 0);
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = above;
        }
    }
    return row[b.size()];
}

std::string nearest(const CLI::App& app, std::string_view word)
{
    std::string best;
    std::size_t bestDistance = 0;
    for (const CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; })) {
        const std::size_t d = distance(word, command->get_name());
        if (best.empty() || d < bestDistance) {
            best = command->get_name();
            bestDistance = d;
        }
    }
    return best;
}

} // namespace

std::optional<std::string> unknown_command(CLI::App& app, std::span<char* const> arguments)
{
    CLI::App* current = &app;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string_view word = arguments[i];
        if (word == "--")
            return std::nullopt;
        if (word.size() > 1 && word.front() == '-') {
            const auto* option =
                current->get_option_no_throw(std::string(word.substr(0, word.find('='))));
            // An unknown option is CLI11's to report.
            if (option == nullptr)
                return std::nullopt;
            if (option->get_type_size() > 0 && word.find('=') == std::string_view::npos)
                ++i;
            continue;
        }
        if (current->get_subcommands([](const CLI::App*) { return true; }).empty())
            return std::nullopt; // the command's own arguments
        const auto named = current->get_subcommands(
            [&](CLI::App* command) { return command->check_name(std::string(word)); });
        if (!named.empty()) {
            current = named.front();
            continue;
        }
        return "unknown command '" + std::string(word) + "'; did you mean '" +
               nearest(*current, word) + "'?";
    }
    return std::nullopt;
}
