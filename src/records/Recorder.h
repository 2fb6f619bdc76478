#pragma once

// Where a programmed token's seed is recorded so that an authentication
// server can take it: the clear-text seed files, an encrypted PSKC file, a
// pam_oath users file. Programming a token (programming/ProgramToken.h) asks
// every recorder it is given, in this order:
//
//   1. open_folders(): the folders it writes in, each resolved, checked and
//      opened once for the recorder's life (core/OpenFolder.h), so that a
//      refused folder fails here, before a lock file is made in it;
//   2. the seed-file lock of each of them (records/FolderLock.h);
//   3. check(): with the locks held, whether the token can be recorded at
//      all (the format can hold it, the file is safe to write and does not
//      hold the serial already), so that nothing knowable fails only after
//      the key took the token;
//   4. record(): once the key took the token, with the same locks held.

#include "core/Error.h"
#include "core/OpenFolder.h"
#include "core/TokenDescription.h"

#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace otp::records {

// One file a token went to, or could not go to.
struct RecordOutcome
{
    std::filesystem::path destination;
    std::optional<core::OpError> failure; // none: the token is recorded there

    bool recorded() const { return !failure; }
};

// A failure for an outcome: the destination is named by the outcome, so a
// detail that starts with "<destination>: " loses that start.
core::OpError failure_at(const std::filesystem::path& destination, core::OpError error);

class Recorder
{
public:
    virtual ~Recorder() = default;

    // The folders this recorder writes in, opened and checked on the first
    // call; it writes under their seed-file locks (records/FolderLock.h).
    virtual core::OpResult<std::vector<const core::OpenFolder*>> open_folders() = 0;

    // Refuses a token this recorder could not record (Refused, or the fault
    // of a file that cannot be read). Called with the locks held.
    virtual core::OpResult<void> check(const core::TokenDescription& token) = 0;

    // Records a token the key `keySerial` has taken: one outcome per file.
    virtual std::vector<RecordOutcome> record(const core::TokenDescription& token,
                                              std::string_view keySerial) = 0;
};

} // namespace otp::records
