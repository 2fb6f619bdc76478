#pragma once

// Where a new token's seed goes, as a front end chose it (the window's Seed
// Records choice, the command line's options), and the recorders opened for
// that choice. Both front ends fill one Destinations and open it here, so
// that they refuse the same choice the same way.

#include "pskc/PskcContainer.h"
#include "records/OathUsersRecorder.h"
#include "records/PskcRecorder.h"
#include "records/SeedFileRecorder.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace otp::records {

struct PskcDestination
{
    std::filesystem::path file;
    pskc::Credential credential;      // its password or key, read once for the run
    pskc::ContainerSettings settings; // the profile of a new file, and whether one is required
};

struct OathUsersDestination
{
    std::filesystem::path file;
    bool replace = false; // a user the file holds already gets the new token instead
};

struct Destinations
{
    // The clear-text seed files' folder; an empty path (no default could be
    // chosen, records/SeedFolder.h) is refused when its folder is opened.
    std::optional<std::filesystem::path> seedFolder;
    // Follows the seed files' refusal of a name their CSV file cannot hold
    // (SeedFileRecorder's csvWayOut).
    std::string csvWayOut;
    std::optional<PskcDestination> pskc;
    std::optional<OathUsersDestination> oathUsers;
    // Open and check every folder now, so that one that cannot be written
    // fails before a key is looked for. Otherwise the folders are opened when
    // the first token is programmed (programming/ProgramToken.h), where the
    // window's dialog reports them; a PSKC file is always read now.
    bool openFoldersNow = false;
};

// The recorders of one Destinations, in the order their records are written:
// the seed files, the PSKC file, the users file.
class Recorders
{
public:
    Recorders(const Recorders&) = delete;
    Recorders& operator=(const Recorders&) = delete;

    std::span<Recorder* const> all() const { return m_all; }
    // The PSKC file's container as last read or written; none without one.
    const pskc::Container* pskcContainer() const { return m_pskc ? &m_pskc->container() : nullptr; }
    const pskc::Credential* pskcCredential() const
    {
        return m_credential ? &*m_credential : nullptr;
    }
    // The pam_oath users file's recorder; none without one.
    OathUsersRecorder* oathUsers() { return m_oathUsers ? &*m_oathUsers : nullptr; }

private:
    Recorders() = default;
    friend core::OpResult<std::unique_ptr<Recorders>>
    open_recorders(const Destinations& destinations);

    std::optional<pskc::Credential> m_credential;
    std::optional<SeedFileRecorder> m_seedFiles;
    std::optional<PskcRecorder> m_pskc;
    std::optional<OathUsersRecorder> m_oathUsers;
    std::vector<Recorder*> m_all;
};

// Reads, decrypts and checks the PSKC file (a missing one is created with the
// first token) and, with openFoldersNow, opens every folder; the first
// refusal, in the recorders' order, is the answer.
core::OpResult<std::unique_ptr<Recorders>> open_recorders(const Destinations& destinations);

} // namespace otp::records
