#include "records/OathUsersRecorder.h"

#include <fmt/format.h>

using namespace otp::core;

namespace otp::records {

OathUsersRecorder::OathUsersRecorder(std::filesystem::path file, bool replace,
                                     std::chrono::milliseconds lockPatience)
    : m_file(std::move(file)), m_replace(replace), m_lockPatience(lockPatience)
{
}

OpResult<std::vector<const OpenFolder*>> OathUsersRecorder::open_folders()
{
    if (!m_open) {
        const std::filesystem::path folder = folder_of(m_file);
        auto open =
            OpenFolder::open(folder, fmt::format("the folder {} of the pam_oath users file {}",
                                                 folder.string(), m_file.string()));
        if (!open)
            return std::unexpected(open.error());
        m_open.emplace(std::move(*open));
    }
    return std::vector<const OpenFolder*>{&*m_open};
}

OpResult<void> OathUsersRecorder::check(const TokenDescription& token)
{
    if (auto format = check_oath_token(token, m_file); !format)
        return format;
    if (auto folder = open_folders(); !folder)
        return std::unexpected(folder.error());
    const OathUsersLine line = oath_users_line(token);
    return check_oath_users_file(m_open->file(m_file.filename(), m_file), {&line, 1}, m_replace,
                                 m_lockPatience);
}

std::vector<RecordOutcome> OathUsersRecorder::record(const TokenDescription& token,
                                                     std::string_view)
{
    RecordOutcome outcome{m_file, std::nullopt};
    const OathUsersLine line = oath_users_line(token);
    if (auto folder = open_folders(); !folder)
        outcome.failure = folder.error();
    else if (auto written = write_oath_users_file(m_open->file(m_file.filename(), m_file),
                                                  {&line, 1}, m_replace, m_lockPatience);
             !written)
        outcome.failure = failure_at(m_file, written.error());
    return {outcome};
}

OpResult<bool> OathUsersRecorder::holds_user(std::string_view user)
{
    if (auto folder = open_folders(); !folder)
        return std::unexpected(folder.error());
    return oath_users_file_holds(m_open->file(m_file.filename(), m_file), user);
}

} // namespace otp::records
