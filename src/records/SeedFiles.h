#pragma once

// The seed files an authentication server imports: per algorithm one XML
// file (replaced whole, atomically) and one CSV file (appended to), in one
// folder. hseeds.* hold HOTP tokens, tseeds.* TOTP tokens. Whoever writes
// them holds the folder's lock (records/FolderLock.h) from reading the XML
// file to the last byte of the CSV row; SeedFileRecorder does exactly that.

#include "core/Error.h"
#include "core/SecretFile.h"
#include "core/TokenDescription.h"

#include <pugixml.hpp>

#include <filesystem>
#include <string>
#include <string_view>

namespace otp::records {

std::filesystem::path seed_xml_path(core::OtpAlgorithm algorithm,
                                    const std::filesystem::path& folder);
// The CSV file that goes with an XML file: same name, extension ".csv".
std::filesystem::path seed_csv_path(const std::filesystem::path& xmlPath);

// An algorithm's seed document as read from its file.
struct SeedDocument
{
    pugi::xml_document xml;
    // Empty when the document may be written back. Otherwise the file exists
    // but could not be read or parsed, or lacks data/tokens; such a file
    // belongs to someone else's tokens and is never overwritten.
    std::string unusableReason;
    // The file could not be read, or is not safe to write: the reason then
    // names the file and says so itself.
    bool unreadable = false;
    // True when the document is the built-in template because there was no
    // file, or only an empty one, to read.
    bool fromTemplate = false;

    bool usable() const { return unusableReason.empty(); }
};

// Parses the bytes of an XML seed file. No bytes at all (a file that was
// created but never written, say by a crash or a full disk) give the
// algorithm's built-in template, as a missing file does.
SeedDocument parse_seed_document(core::OtpAlgorithm algorithm, std::string_view bytes);

// The bytes of the algorithm's XML file in the folder, empty when there is
// no file; refused when the file is not safe to write or too large.
core::OpResult<std::string> read_seed_xml(core::OtpAlgorithm algorithm,
                                          const std::filesystem::path& folder);
// The same for the XML file `xml` in a folder held open (core/OpenFolder.h).
core::OpResult<std::string> read_seed_xml(const core::FileAt& xml);

// Reads the algorithm's XML file from the folder, or gives its built-in
// template when the file does not exist or is empty. A file that is not safe
// to write (a link, another account's file, ...) is unusable.
SeedDocument load_seed_document(core::OtpAlgorithm algorithm, const std::filesystem::path& folder);

// Appends the token's element to `tokens`, its children in the order the
// importer reads them.
pugi::xml_node append_token_element(pugi::xml_node tokens, const core::TokenDescription& token);

// Appends the token to a usable document and gives the whole document's
// bytes as they are saved.
std::string append_seed_token(SeedDocument& document, const core::TokenDescription& token);
// The document's bytes as they are saved.
std::string seed_document_bytes(const SeedDocument& document);

// Header line and row in the CSV file's encoding (UTF-16LE, no byte-order mark).
std::string seed_csv_header(core::OtpAlgorithm algorithm);
std::string seed_csv_row(const core::TokenDescription& token);

// Appends the token's row to the CSV file, with the header line if
// the file did not exist before; a new file is owner-only. On a short write
// the file is cut back to where the append began, so no half UTF-16 row is
// ever left for the next row to be glued onto.
core::OpResult<void> write_seed_csv(const core::FileAt& csv, const core::TokenDescription& token);

} // namespace otp::records
