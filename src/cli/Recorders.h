#pragma once

// Where `program` and `batch` record each token: the clear-text seed files
// unless --no-plaintext, the PSKC file given with --pskc and the pam_oath users
// file given with --oath-users.

#include "cli/TokenOptions.h"
#include "records/OathUsersRecorder.h"
#include "records/PskcRecorder.h"
#include "records/SeedFileRecorder.h"

#include <memory>
#include <optional>
#include <vector>

class Recorders
{
public:
    // Checks the seed folder, reads the PSKC file's password or key and opens
    // the file, so that what cannot be written fails before a key is touched.
    static OpResult<std::unique_ptr<Recorders>> open(const TokenOptions& options);

    std::span<Recorder* const> all() const { return m_all; }
    // The PSKC file's container as last read or written; none without --pskc.
    const pskc::Container* pskcContainer() const { return m_pskc ? &m_pskc->container() : nullptr; }

    // The PSKC file's password or key, as read once for the run.
    const pskc::Credential* pskcCredential() const
    {
        return m_credential ? &*m_credential : nullptr;
    }

private:
    Recorders() = default;
    std::optional<pskc::Credential> m_credential;
    std::optional<SeedFileRecorder> m_seedFiles;
    std::optional<PskcRecorder> m_pskc;
    std::optional<OathUsersRecorder> m_oathUsers;
    std::vector<Recorder*> m_all;
};
