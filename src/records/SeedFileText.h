#pragma once

// An XML seed file held as the bytes it is saved as, so that adding a token
// costs one look over the file and one write instead of parsing the whole
// document into a tree and printing it again.
//
// A file laid out exactly as this program saves it (one element per line,
// indented with tabs, text escaped as pugixml escapes it: what every file
// looks like once it got a token from us) gets the new token's element
// spliced in just before its closing </tokens> line; its bytes are then
// those the document tree would give. Any other file (edited by hand, written
// by another tool, with comments, attributes or other line ends) goes through
// the document tree (records/SeedFiles.h) as before, and stays there for as
// long as this object lives, so that the bytes never differ from the tree's.

#include "records/SeedFiles.h"

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace otp::records {

class SeedFileText
{
public:
    // The bytes of an XML seed file; none at all give the built-in template.
    SeedFileText(core::OtpAlgorithm algorithm, std::string bytes);
    SeedFileText(SeedFileText&&) = default;
    SeedFileText& operator=(SeedFileText&&) = delete;
    ~SeedFileText();

    // Empty when tokens may be added; see SeedDocument for the other fields.
    std::string unusableReason;
    bool unreadable = false;
    bool fromTemplate = false;
    bool usable() const { return unusableReason.empty(); }

    // True while tokens are spliced into the bytes, without a document tree.
    bool spliced() const { return !m_tree; }

    // Adds the token to a usable file; its bytes then.
    std::string_view append(const core::TokenDescription& token);
    std::string_view bytes() const { return m_bytes; }

private:
    SeedFileText() = default;
    friend SeedFileText load_seed_text(core::OtpAlgorithm, const core::FileAt&);
    void insert(std::size_t at, std::string_view text);

    std::string m_bytes;
    // Where the line that closes the tokens element begins, or the line of
    // an empty one ("<tokens />").
    std::size_t m_tokensEnd = 0;
    bool m_noTokens = false;
    std::unique_ptr<SeedDocument> m_tree; // for a file laid out otherwise
};

// Reads the algorithm's XML file from the folder, as load_seed_document does.
SeedFileText load_seed_text(core::OtpAlgorithm algorithm, const std::filesystem::path& folder);
// The same for the XML file `xml` in a folder held open (core/OpenFolder.h).
SeedFileText load_seed_text(core::OtpAlgorithm algorithm, const core::FileAt& xml);

} // namespace otp::records
