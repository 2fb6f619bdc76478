#pragma once

// Where `program` and `batch` record each token: the clear-text seed files
// unless --no-plaintext, and the PSKC file given with --pskc.

#include "cli/TokenOptions.h"
#include "programming/PskcRecorder.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

class Recorders
{
public:
    // Reads the PSKC file's password or key and opens the file, so that a
    // file that does not parse, decrypt or verify fails before a key is
    // touched; the failure is the message for standard error.
    static std::expected<std::unique_ptr<Recorders>, std::string> open(const TokenOptions& options);

    std::span<TokenRecorder* const> all() const { return m_all; }
    // The key the next tokens are programmed on.
    void setKeySerial(const std::string& serial);
    QStringList destinations(const SeedFileToken& token) const;

private:
    Recorders() = default;
    std::optional<SeedFileRecorder> m_seedFiles;
    std::optional<PskcRecorder> m_pskc;
    std::vector<TokenRecorder*> m_all;
};
