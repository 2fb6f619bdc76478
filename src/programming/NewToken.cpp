#include "programming/NewToken.h"

#include "device/AnsiText.h"
#include "device/OpResult.h"
#include "programming/SeedFileLock.h"
#include "programming/SeedHandling.h"

#include <QDir>

#include <algorithm>
#include <cstring>

namespace {

bool breaks_csv_row(const QString& text)
{
    return std::ranges::any_of(
        text, [](QChar c) { return c == u',' || c == u'"' || c == u'\r' || c == u'\n'; });
}

// The key and the XML file hold 8-bit text that ends at the first zero byte.
// Text the code page cannot carry (a lone surrogate, a character outside a
// narrow code page) or that holds a NUL would reach them as something other
// than what was typed, and other than what the CSV file records.
bool fits_8bit_field(const QString& text)
{
    const std::string ansi = toAnsi(text);
    return ansi.find('\0') == std::string::npos && fromAnsi(ansi) == text;
}

QString file_failure_line(const QString& path, const QString& reason)
{
    return QStringLiteral("Failed to record the new token in %1: %2\r\n")
        .arg(QDir::toNativeSeparators(path), reason);
}

} // namespace

std::expected<SeedFileToken, QString> check_new_token(const NewTokenForm& form)
{
    SeedFileToken token;
    token.algorithm = form.algorithmChoice == 0 ? OtpAlgorithm::Hotp : OtpAlgorithm::Totp;
    token.hash = form.hashChoice == 0 ? OtpHash::Sha1 : OtpHash::Sha256;
    token.digits = form.digitsChoice == 0 ? 6 : 8;
    token.interval = form.intervalChoice == 0 ? 30 : 60;
    token.userName = form.userName;

    // The key lists its tokens up to the first empty serial number, so a
    // token without one could never be seen or removed again.
    token.serial = toAnsi(form.serialText);
    if (token.serial.empty())
        return std::unexpected(QStringLiteral("Please enter a serial number."));
    if (token.serial.size() > kSerialNumberLength)
        return std::unexpected(
            QStringLiteral("The serial number is too long (at most 13 characters)."));
    if (breaks_csv_row(form.serialText))
        return std::unexpected(QStringLiteral(
            "The serial number must not contain a comma, a double quote or a line break."));
    if (!fits_8bit_field(form.serialText))
        return std::unexpected(
            QStringLiteral("The serial number holds characters the key cannot store."));

    uint8_t seed[kSeedBufferSize] = {};
    std::size_t seedLength = 0;
    if (!hex_to_bytes(form.seedText, seed, sizeof seed, &seedLength))
        return std::unexpected(QString::fromUtf8(kInvalidSeedFormat));
    // The key takes exactly 20 or 32 bytes; a shorter text would be padded
    // with zeros and program a seed different from the one exported.
    const std::size_t wanted = token.hash == OtpHash::Sha1 ? kSha1SeedLength : kSha256SeedLength;
    if (seedLength != wanted)
        return std::unexpected(
            token.hash == OtpHash::Sha1
                ? QStringLiteral("SHA-1 needs a seed of 40 hexadecimal digits.")
                : QStringLiteral("SHA-256 needs a seed of 64 hexadecimal digits."));
    token.seed.assign(seed, seed + seedLength);

    if (breaks_csv_row(form.userName))
        return std::unexpected(QStringLiteral(
            "The user name must not contain a comma, a double quote or a line break."));
    if (!fits_8bit_field(form.userName))
        return std::unexpected(
            QStringLiteral("The user name holds characters the seed files cannot store."));
    return token;
}

OtpTokenRecord make_token_record(const SeedFileToken& token)
{
    OtpTokenRecord record{};
    record.slot = VN_SLOT_ALL;
    record.type = token.algorithm == OtpAlgorithm::Hotp ? VN_TYPE_HOTP : VN_TYPE_TOTP;
    record.hash = token.hash == OtpHash::Sha1 ? VN_HASH_SHA1 : VN_HASH_SHA256;
    record.digits = static_cast<uint32_t>(token.digits);
    // HOTP tokens carry the chosen interval too; the key ignores it for them.
    record.interval = static_cast<uint32_t>(token.interval);
    std::memcpy(record.serial, token.serial.data(),
                std::min(token.serial.size(), kSerialNumberLength));
    std::memcpy(record.seed, token.seed.data(), std::min(token.seed.size(), kSeedBufferSize));
    record.seedLength = static_cast<uint32_t>(token.seed.size());
    return record;
}

QString save_result_text(uint32_t status, const NewTokenForm& form)
{
    if (status != 0)
        return QStringLiteral("Failed to save the new token (error = %1)\r\n")
            .arg(status_hex(status));
    return QStringLiteral("Save new token succeeded!\r\n") + QStringLiteral("SN=") +
           form.serialText + QStringLiteral(", SEED=") + form.seedText + QStringLiteral("\r\n");
}

QString export_seed_files(const QString& directory, const SeedFileToken& token)
{
    const QString xmlPath = seed_xml_path(token.algorithm, directory);
    const QString csvPath = seed_csv_path(xmlPath);
    // Writing without the lock could drop another writer's token, so neither
    // file is touched when it cannot be had.
    const auto lock = SeedFileLock::acquire(directory);
    if (!lock)
        return file_failure_line(xmlPath, lock.error().reason) +
               file_failure_line(csvPath, lock.error().reason);

    QString failures;
    if (auto written = write_seed_xml(directory, token); !written)
        failures += file_failure_line(xmlPath, written.error());
    QString reason;
    if (write_seed_csv(csvPath, token, &reason) != kCsvWritten)
        failures += file_failure_line(csvPath, reason);
    return failures;
}
