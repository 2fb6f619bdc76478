#pragma once

// The clear-text seed files of one folder as a recorder: the token's XML
// file and CSV file (records/SeedFiles.h).
//
// A run that records many tokens does not pay for reading what it has just
// written: the XML files' bytes are kept between tokens (records/SeedFileText.h),
// and a file is read again only when it changed since this recorder last
// wrote or read it (its identity, size or time, looked at under the folder's
// lock), so that a token another writer added meanwhile is never written over.

#include "records/Recorder.h"
#include "records/SeedFileText.h"

#include <sys/types.h>

#include <array>
#include <ctime>
#include <memory>
#include <optional>

namespace otp::records {

class SeedFileRecorder final : public Recorder
{
public:
    // `csvWayOut`, when given, follows a refusal of a serial number or user
    // name the CSV file cannot hold: the front end's way to record it anyway.
    explicit SeedFileRecorder(std::filesystem::path folder, std::string csvWayOut = {});

    const std::filesystem::path& folder() const { return m_folder; }

    // The seed folder; an empty one (no default could be chosen, see
    // records/SeedFolder.h) is refused with what to do.
    core::OpResult<std::vector<const core::OpenFolder*>> open_folders() override;
    // The folder and both files must be safe to write, the XML file must
    // parse, and the CSV row must be able to hold the serial number and user
    // name as they are.
    core::OpResult<void> check(const core::TokenDescription& token) override;
    std::vector<RecordOutcome> record(const core::TokenDescription& token,
                                      std::string_view keySerial) override;

private:
    struct FileIdentity
    {
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = -1;
        struct timespec modified = {};
        bool operator==(const FileIdentity& other) const;
    };
    struct Cached
    {
        std::unique_ptr<SeedFileText> text;
        FileIdentity identity; // of the file the text was read from or written to
        bool present = false;  // whether that file existed
    };

    // The algorithm's XML file as it holds it now.
    SeedFileText& text(core::OtpAlgorithm algorithm);
    std::optional<FileIdentity> identity_of(const core::FileAt& file) const;
    core::FileAt xml_file(core::OtpAlgorithm algorithm) const;

    std::filesystem::path m_folder;
    std::string m_csvWayOut;
    std::optional<core::OpenFolder> m_open;
    std::array<Cached, 2> m_cache; // by algorithm
};

// Refuses a serial number or user name that a CSV row cannot hold as it is:
// a comma or double quote would shift or quote the columns, and a leading
// =, +, - or @ makes a spreadsheet read the cell as a formula.
core::OpResult<void> check_csv_fields(const core::TokenDescription& token);

} // namespace otp::records
