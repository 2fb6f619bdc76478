#pragma once

// The New Token dialog's Save without the widgets: checking what the user
// entered, the record that programs the key, the result lines for the
// Messages panel and the export of the seed files.

#include "programming/SeedFiles.h"

#include <VN_Manager.h>

#include <QString>

#include <cstdint>
#include <expected>

// Save results, as the main window reads them once the dialog has closed.
inline constexpr int kNotSaved = 0;
inline constexpr int kProgrammingFailed = 1;
inline constexpr int kProgrammingSucceeded = 2;

// The New Token dialog's fields as read from its controls; a choice is the
// index of the selected button of its group (-1 for none).
struct NewTokenForm
{
    int algorithmChoice = 1; // 0 HOTP, 1 TOTP
    int hashChoice = 0;      // 0 SHA-1, 1 SHA-256
    int digitsChoice = 0;    // 0 six digits, 1 eight digits
    int intervalChoice = 0;  // 0 30 seconds, 1 60 seconds
    bool appendEnter = true;
    QString serialText;
    QString seedText;
    QString userName;
};

// The status-line text for seed text that is not hexadecimal.
inline constexpr const char* kInvalidSeedFormat = "Invalid seed format!";

// Checks the form and decodes the seed. The token is refused, with the text
// for the dialog's status line, when the key or the seed files could not
// take it as it stands: an empty serial number or one longer than the key's
// 13 characters, a seed that is not hexadecimal or not exactly the length
// of the chosen hash, and a serial number or user name that would break the
// CSV row (comma, double quote, line break) or that the 8-bit code page
// cannot carry unchanged.
std::expected<SeedFileToken, QString> check_new_token(const NewTokenForm& form);

// The record that programs the token into the key.
OtpTokenRecord make_token_record(const SeedFileToken& token);

// "Save new token succeeded!" with the serial number and seed as the edits
// show them, or the failure with the device library's status.
QString save_result_text(uint32_t status, const NewTokenForm& form);

// Records the token in its algorithm's XML and CSV files in the directory.
// Under the folder's SeedFileLock it reads the XML file as it is now (tokens
// that another tool recorded since, or a file moved away, are respected),
// appends the token and replaces the file atomically, then appends the CSV
// row. Returns one Messages-panel line per file that could not be written,
// empty when both were: a token whose seed is not recorded is lost to the
// authentication server unless the administrator copies it by hand.
QString export_seed_files(const QString& directory, const SeedFileToken& token);
