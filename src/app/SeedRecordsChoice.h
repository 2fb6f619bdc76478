#pragma once

// Where New Token records a token's seed, as chosen in the Seed records
// dialog: the clear-text seed files (the default, exactly as without a
// choice), a PSKC file, a pam_oath users file. The choice holds file names
// only, never a secret, and is kept between runs in the user's settings.

#include "pskc/PskcContainer.h"

#include <QString>

namespace otp::app {

struct SeedRecordsChoice
{
    bool seedFiles = true;
    QString pskcFile;    // empty: none
    QString pskcKeyFile; // empty: the PSKC file's password, asked once per run
    // Of a PSKC file New Token creates; an existing file keeps its own.
    pskc::Profile pskcProfile = pskc::kDefaultProfile;
    QString oathUsersFile; // empty: none
    bool oathUsersReplace = false;

    // The seed files alone: New Token writes and reports as it always did.
    bool isDefault() const { return seedFiles && pskcFile.isEmpty() && oathUsersFile.isEmpty(); }
    friend bool operator==(const SeedRecordsChoice&, const SeedRecordsChoice&) = default;
};

// The choice from the settings ("vnotp", "vnotp"); the default when there is none.
SeedRecordsChoice loadSeedRecordsChoice();
void saveSeedRecordsChoice(const SeedRecordsChoice& choice);

} // namespace otp::app
