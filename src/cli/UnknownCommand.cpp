#include "cli/UnknownCommand.h"

#include <algorithm>
#include <numeric>
#include <string_view>
#include <vector>

namespace otp::cli {

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

// The name closest to `word`, when one is close enough to be what was meant:
// a suggestion as far off as any other name misleads more than it helps.
std::optional<std::string> nearest(std::string_view word, const std::vector<std::string>& names)
{
    std::optional<std::string> best;
    std::size_t bestDistance = 0;
    for (const std::string& name : names) {
        const std::size_t d = distance(word, name);
        if (!best || d < bestDistance) {
            best = name;
            bestDistance = d;
        }
    }
    if (best && bestDistance > std::max<std::size_t>(2, word.size() / 3))
        return std::nullopt;
    return best;
}

std::string did_you_mean(std::string text, const std::optional<std::string>& name)
{
    return name ? text + "; did you mean '" + *name + "'?" : text;
}

std::vector<std::string> command_names(const CLI::App& app)
{
    std::vector<std::string> names;
    for (const CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; }))
        names.push_back(command->get_name());
    return names;
}

// The command's options and, since the options before a command are taken
// after it as well, those of the commands around it.
const CLI::Option* find_option(const CLI::App* app, const std::string& name)
{
    for (; app != nullptr; app = app->get_parent())
        if (const auto* option = app->get_option_no_throw(name))
            return option;
    return nullptr;
}

// Whether a command below `app` takes the option: given too early, not mistyped.
bool taken_below(const CLI::App* app, const std::string& name)
{
    for (const CLI::App* command : app->get_subcommands([](const CLI::App*) { return true; }))
        if (command->get_option_no_throw(name) != nullptr || taken_below(command, name))
            return true;
    return false;
}

void add_option_names(const CLI::App* app, std::vector<std::string>& names)
{
    for (const CLI::Option* option : app->get_options())
        for (const std::string& name : option->get_lnames())
            names.push_back("--" + name);
}

// The options of `app` and of the commands around it, then those of the
// commands below it: a mistyped command option given before its command is
// still recognised (and then refused as given too early, once corrected).
std::vector<std::string> option_names(const CLI::App* app)
{
    std::vector<std::string> names;
    for (const CLI::App* around = app; around != nullptr; around = around->get_parent())
        add_option_names(around, names);
    std::vector<const CLI::App*> below{app};
    while (!below.empty()) {
        const CLI::App* command = below.back();
        below.pop_back();
        for (const CLI::App* sub : command->get_subcommands([](const CLI::App*) { return true; })) {
            add_option_names(sub, names);
            below.push_back(sub);
        }
    }
    return names;
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
            const std::string name(word.substr(0, word.find('=')));
            const auto* option = find_option(current, name);
            if (option == nullptr && taken_below(current, name))
                return "'" + name + "' is an option of a command: give it after the command";
            if (option == nullptr && name.starts_with("--"))
                return did_you_mean("unknown option '" + name + "'",
                                    nearest(name, option_names(current)));
            // A short option, or several run together, is CLI11's to report.
            if (option == nullptr)
                return std::nullopt;
            // A flag takes no value: the next word is a command or an argument.
            if (option->get_expected_min() > 0 && word.find('=') == std::string_view::npos)
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
        return did_you_mean("unknown command '" + std::string(word) + "'",
                            nearest(word, command_names(*current)));
    }
    return std::nullopt;
}

} // namespace otp::cli
