#pragma once

// Records programmed tokens in an encrypted PSKC container (RFC 6030), beside
// or instead of the clear-text seed files.

#include "pskc/PskcFile.h"
#include "records/Recorder.h"

namespace otp::records {

class PskcRecorder final : public Recorder
{
public:
    // Opens and checks the file's folder (core/OpenFolder.h) and reads,
    // decrypts and verifies the file now, so that a file that cannot be
    // extended refuses the run before any key is touched; a missing file is
    // created with the first token.
    // A new file takes the settings' profile; an existing one keeps its own
    // and is refused when the settings name another.
    static core::OpResult<PskcRecorder> open(const std::filesystem::path& path,
                                             const pskc::Credential& credential,
                                             const pskc::ContainerSettings& settings = {});

    const pskc::Container& container() const { return m_update.container(); }

    core::OpResult<std::vector<const core::OpenFolder*>> open_folders() override;
    // The file must be safe to write, the container must not be signed, nor
    // protected below this tool's minimum, and must not hold the serial number.
    core::OpResult<void> check(const core::TokenDescription& token) override;
    // The key's serial number goes into the key package's DeviceInfo.
    std::vector<RecordOutcome> record(const core::TokenDescription& token,
                                      std::string_view keySerial) override;

private:
    PskcRecorder(std::filesystem::path path, core::OpenFolder folder, pskc::ContainerUpdate update)
        : m_path(std::move(path)), m_folder(std::move(folder)), m_update(std::move(update))
    {
    }

    std::filesystem::path m_path;
    core::OpenFolder m_folder; // m_update writes relative to it
    pskc::ContainerUpdate m_update;
};

} // namespace otp::records
