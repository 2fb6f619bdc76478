#pragma once

// The seed export files an authentication server imports: per algorithm one
// XML file (rewritten whole, atomically) and one CSV file (appended to), in
// one directory. hseeds.* hold HOTP tokens, tseeds.* TOTP tokens.
//
// The writers come in two layers: the *_to functions write to a device that
// a test hands them, so that their bytes can be compared and their failures
// simulated; the others open the real files around them. Whoever calls the
// file-level writers holds the folder's SeedFileLock (SeedFileLock.h) from
// reading the XML file to the last byte of the CSV row; export_seed_files
// (NewToken.h) does exactly that.

#include <QByteArray>
#include <QString>

#include <pugixml.hpp>

#include <cstdint>
#include <expected>
#include <string>
#include <vector>

class QFileDevice;
class QIODevice;

enum class OtpAlgorithm { Hotp, Totp };
enum class OtpHash { Sha1, Sha256 };

// One programmed token as the seed files record it.
struct SeedFileToken
{
    OtpAlgorithm algorithm = OtpAlgorithm::Totp;
    OtpHash hash = OtpHash::Sha1;
    int digits = 6;
    int interval = 30;
    std::string serial;        // 8-bit text, as programmed
    std::vector<uint8_t> seed; // exactly the bytes programmed (20 or 32)
    QString userName;          // may be empty
};

QString seed_xml_path(OtpAlgorithm algorithm, const QString& directory);
// The CSV file that goes with an XML file: same name, extension ".csv".
QString seed_csv_path(const QString& xmlPath);

// An algorithm's seed document as read from its file.
struct SeedDocument
{
    pugi::xml_document xml;
    // Empty when the document may be written back. Otherwise the file exists
    // but could not be read or parsed, or lacks data/tokens; such a file
    // belongs to someone else's tokens and is never overwritten.
    QString unusableReason;
    // True when the document is the built-in template because there was no
    // file, or only an empty one, to read.
    bool fromTemplate = false;

    bool usable() const { return unusableReason.isEmpty(); }
};

// Parses the bytes of an XML seed file. No bytes at all (a file that was
// created but never written, say by a crash or a full disk) give the
// algorithm's built-in template, as a missing file does.
SeedDocument parse_seed_document(OtpAlgorithm algorithm, const QByteArray& bytes);

// Reads the algorithm's XML file from the directory, or gives its built-in
// template when the file does not exist or is empty.
SeedDocument load_seed_document(OtpAlgorithm algorithm, const QString& directory);

// Appends the token to the document and writes the whole document to `out`.
// On failure the document is left as it was and the reason is returned.
std::expected<void, QString> write_seed_xml_to(SeedDocument& document, const SeedFileToken& token,
                                               QIODevice& out);

// Reads the algorithm's XML file afresh, appends the token and replaces the
// file: written to a temporary file beside it and renamed, so the tokens
// already recorded survive a crash or a full disk, and a hard link to the old
// file keeps the old content. A file that did not exist or was empty becomes
// readable by its owner only; an existing one keeps its permissions. A file
// that cannot be parsed is left untouched and its reason returned.
std::expected<void, QString> write_seed_xml(const QString& directory, const SeedFileToken& token);

// Results of write_seed_csv. After kCsvWriteFailed the file has been put back
// to its length before the append, so no half row is ever left for the next
// row to be glued onto.
inline constexpr int kCsvWritten = 0;
inline constexpr int kCsvCannotOpen = -1;
inline constexpr int kCsvCannotSeek = -2;
inline constexpr int kCsvWriteFailed = -3;

// Header line and row in the file's encoding (UTF-16LE, no byte-order mark).
QByteArray seed_csv_header(OtpAlgorithm algorithm);
QByteArray seed_csv_row(const SeedFileToken& token);

// Moves to the end of `file` and appends (the header when asked, then) the
// token's row; on a short write or a failed flush it truncates the file back
// to where the append began. Returns kCsvWritten, kCsvCannotSeek or
// kCsvWriteFailed. Open the file Unbuffered: bytes left in Qt's write buffer
// after a failure would otherwise be written again when the file closes.
int write_seed_csv_to(QFileDevice& file, const SeedFileToken& token, bool writeHeader,
                      QString* error = nullptr);

// Appends the token's row to the CSV file at `path`, with the header line if
// the file did not exist before. A new file is readable by its owner only.
int write_seed_csv(const QString& path, const SeedFileToken& token, QString* error = nullptr);
