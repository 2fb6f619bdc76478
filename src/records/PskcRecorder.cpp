#include "records/PskcRecorder.h"

#include <fmt/format.h>

using namespace otp::core;
using namespace otp::pskc;

namespace otp::records {

OpResult<PskcRecorder> PskcRecorder::open(const std::filesystem::path& path,
                                          const pskc::Credential& credential,
                                          const pskc::ContainerSettings& settings)
{
    const std::filesystem::path folderPath = folder_of(path);
    auto folder = OpenFolder::open(folderPath, fmt::format("the folder {} of the PSKC file {}",
                                                           folderPath.string(), path.string()));
    if (!folder)
        return std::unexpected(folder.error());
    auto update =
        pskc::ContainerUpdate::open(folder->file(path.filename(), path), credential, settings);
    if (!update)
        return std::unexpected(update.error());
    return PskcRecorder(path, std::move(*folder), std::move(*update));
}

OpResult<std::vector<const OpenFolder*>> PskcRecorder::open_folders()
{
    return std::vector<const OpenFolder*>{&m_folder};
}

OpResult<void> PskcRecorder::check(const TokenDescription& token)
{
    // Its seeds are encrypted: a file others may read is the owner's choice.
    if (auto safe = check_private_file(m_folder.file(m_path.filename(), m_path), true); !safe)
        return safe;
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

} // namespace otp::records
