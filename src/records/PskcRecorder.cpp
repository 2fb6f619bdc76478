#include "records/PskcRecorder.h"

OpResult<PskcRecorder> PskcRecorder::open(const std::filesystem::path& path,
                                          const pskc::Credential& credential,
                                          const pskc::ContainerSettings& settings)
{
    auto update = pskc::ContainerUpdate::open(path, credential, settings);
    if (!update)
        return std::unexpected(update.error());
    return PskcRecorder(path, std::move(*update));
}

std::vector<std::filesystem::path> PskcRecorder::folders() const
{
    return {m_path.has_parent_path() ? m_path.parent_path() : std::filesystem::path(".")};
}

OpResult<void> PskcRecorder::check(const TokenDescription& token)
{
    return m_update.can_add(token.serial);
}

std::vector<RecordOutcome> PskcRecorder::record(const TokenDescription& token,
                                                std::string_view keySerial)
{
    RecordOutcome outcome{m_path, std::nullopt};
    if (auto added = m_update.add(pskc::make_key_package(token, std::string(keySerial))); !added)
        outcome.failure = failure_at(m_path, added.error());
    return {outcome};
}
