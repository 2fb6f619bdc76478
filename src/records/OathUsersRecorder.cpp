#include "records/OathUsersRecorder.h"

OathUsersRecorder::OathUsersRecorder(std::filesystem::path file, bool replace,
                                     std::chrono::milliseconds lockPatience)
    : m_file(std::move(file)), m_replace(replace), m_lockPatience(lockPatience)
{
}

std::vector<std::filesystem::path> OathUsersRecorder::folders() const
{
    return {m_file.has_parent_path() ? m_file.parent_path() : std::filesystem::path(".")};
}

OpResult<void> OathUsersRecorder::check(const TokenDescription& token)
{
    if (auto format = check_oath_token(token, m_file); !format)
        return format;
    const OathUsersLine line = oath_users_line(token);
    return check_oath_users_file(m_file, {&line, 1}, m_replace, m_lockPatience);
}

std::vector<RecordOutcome> OathUsersRecorder::record(const TokenDescription& token,
                                                     std::string_view)
{
    RecordOutcome outcome{m_file, std::nullopt};
    const OathUsersLine line = oath_users_line(token);
    if (auto written = write_oath_users_file(m_file, {&line, 1}, m_replace, m_lockPatience);
        !written)
        outcome.failure = failure_at(m_file, written.error());
    return {outcome};
}
