#pragma once

// Records programmed tokens in an encrypted PSKC container (RFC 6030), beside
// or instead of the clear-text seed files.

#include "export/PskcFile.h"
#include "programming/TokenRecorder.h"

#include <expected>
#include <filesystem>
#include <string>

class PskcRecorder final : public TokenRecorder
{
public:
    // Reads, decrypts and verifies the file now, so that a file that cannot be
    // extended refuses the run before any key is touched; a missing file is
    // created with the first token.
    static std::expected<PskcRecorder, pskc::Error> open(const std::filesystem::path& path,
                                                         const pskc::Credential& credential);

    // The serial number of the key the next tokens go to (DeviceInfo SerialNo).
    void setKeySerial(std::string serial) { m_keySerial = std::move(serial); }

    std::expected<void, QString> record(const SeedFileToken& token) override;
    QStringList destinations(const SeedFileToken& token) const override;

private:
    PskcRecorder(std::filesystem::path path, pskc::ContainerUpdate update)
        : m_path(std::move(path)), m_update(std::move(update))
    {
    }

    std::filesystem::path m_path;
    pskc::ContainerUpdate m_update;
    std::string m_keySerial;
};
