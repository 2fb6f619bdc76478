#include "cli/UsersFile.h"

#include "core/Codecs.h"
#include "core/SecretFile.h"

#include <fmt/format.h>

OpResult<std::vector<std::string>> read_users_file(const std::string& path)
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
    std::vector<std::string> users;
    std::size_t start = 0;
    while (start < text->size()) {
        std::size_t end = text->find('\n', start);
        if (end == std::string::npos)
            end = text->size();
        const std::string line = text->substr(start, end - start);
        start = end + 1;
        const auto first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos || line[first] == '#')
            continue;
        users.push_back(line.substr(first, line.find_last_not_of(" \t\r") - first + 1));
    }
    if (users.empty())
        return fail(Fault::Refused, fmt::format("the users file {} names no user", path));
    return users;
}
