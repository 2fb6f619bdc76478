#include "cli/UsersFile.h"

#include "cli/PrintableText.h"

#include "core/Codecs.h"
#include "core/SecretFile.h"

#include <fmt/format.h>

#include <unordered_map>

using namespace otp::core;

namespace otp::cli {

OpResult<std::vector<ListedUser>> read_users_file(const std::string& path)
{
    // Far more than any team; a larger file is not a list of users.
    constexpr std::size_t kLimit = 16 * 1024 * 1024;
    auto text = read_trusted_file(path, kLimit);
    if (!text)
        return std::unexpected(text.error());
    if (text->starts_with("\xEF\xBB\xBF"))
        text->erase(0, 3);
    if (!is_valid_utf8(*text))
        return fail(Fault::Refused, fmt::format("the users file {} is not UTF-8 text", path));
    std::vector<ListedUser> users;
    std::unordered_map<std::string, int> lineOf;
    std::size_t start = 0;
    for (int number = 1; start < text->size(); ++number) {
        std::size_t end = text->find('\n', start);
        if (end == std::string::npos)
            end = text->size();
        const std::string line = text->substr(start, end - start);
        start = end + 1;
        const auto first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos || line[first] == '#')
            continue;
        std::string name = line.substr(first, line.find_last_not_of(" \t\r") - first + 1);
        if (const auto [earlier, added] = lineOf.try_emplace(name, number); !added)
            return fail(Fault::Refused,
                        fmt::format("the users file {} names \"{}\" twice (lines {} and {}): one "
                                    "key per user, so remove one of the lines",
                                    path, printable(name), earlier->second, number));
        users.push_back({std::move(name), number});
    }
    if (users.empty())
        return fail(Fault::Refused, fmt::format("the users file {} names no user", path));
    return users;
}

} // namespace otp::cli
