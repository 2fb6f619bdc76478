#pragma once

// Records programmed tokens in a pam_oath users file (records/OathUsersFile.h),
// beside or instead of the seed files and a PSKC file, so that the PAM module
// or an authentication server using liboath accepts the token at once.

#include "records/OathUsersFile.h"
#include "records/Recorder.h"

#include <optional>

namespace otp::records {

class OathUsersRecorder final : public Recorder
{
public:
    // With `replace`, a user the file holds already gets the new token in
    // place of that line; otherwise the token is refused.
    explicit OathUsersRecorder(std::filesystem::path file, bool replace = false,
                               std::chrono::milliseconds lockPatience = kOathLockPatience);

    const std::filesystem::path& file() const { return m_file; }

    // The file's folder.
    core::OpResult<std::vector<const core::OpenFolder*>> open_folders() override;
    // A SHA-1 token of a user name the file can hold, not yet in the file
    // (unless replacing), and a file that can be written now.
    core::OpResult<void> check(const core::TokenDescription& token) override;
    std::vector<RecordOutcome> record(const core::TokenDescription& token,
                                      std::string_view keySerial) override;
    // Whether the file has a line for `user`, whose token a replacement
    // would take the place of.
    core::OpResult<bool> holds_user(std::string_view user);

private:
    std::filesystem::path m_file;
    std::optional<core::OpenFolder> m_open;
    bool m_replace;
    std::chrono::milliseconds m_lockPatience;
};

} // namespace otp::records
