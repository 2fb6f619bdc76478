// The CSV row of a new token. Its fields are joined without quoting, so the
// New Token checks must refuse any serial number or user name that would not
// read back from the row as the same field.

#include "FuzzCheck.h"
#include "device/AnsiText.h"
#include "programming/NewToken.h"

#include <QStringList>

#include <cstring>
#include <string>

namespace {

// The row as the authentication server reads it: UTF-16LE code units, one
// line ending in CR LF, fields split at every comma.
QStringList readRow(const QByteArray& bytes)
{
    FUZZ_CHECK(bytes.size() % 2 == 0);
    QString line;
    for (qsizetype i = 0; i < bytes.size(); i += 2)
        line.append(QChar(static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) |
                                                static_cast<uint8_t>(bytes[i + 1]) << 8)));
    FUZZ_CHECK(line.endsWith(QLatin1String("\r\n")));
    line.chop(2);
    FUZZ_CHECK(!line.contains(u'\r') && !line.contains(u'\n'));
    return line.split(u',');
}

} // namespace

// First byte: algorithm, hash and interval choices; second byte: how many
// of the UTF-16LE code units that follow are the serial text, the others are
// the user name.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    NewTokenForm form;
    form.algorithmChoice = data[0] & 1;
    form.hashChoice = (data[0] >> 1) & 1;
    form.intervalChoice = (data[0] >> 2) & 1;
    form.seedText = form.hashChoice == 0 ? QString(40, u'a') : QString(64, u'7');
    for (size_t i = 2; i + 1 < size; i += 2) {
        const auto unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        (i / 2 <= data[1] ? form.serialText : form.userName).append(QChar(unit));
    }

    const auto token = check_new_token(form);
    if (!token)
        return 0;
    // The key is programmed with the serial number the files record.
    const OtpTokenRecord record = make_token_record(*token);
    FUZZ_CHECK(std::string(record.serial, strnlen(record.serial, sizeof record.serial)) ==
               token->serial);
    // The XML file records the user name as 8-bit text up to its first NUL.
    const std::string name = toAnsi(form.userName);
    FUZZ_CHECK(name.find('\0') == std::string::npos && fromAnsi(name) == form.userName);

    const QStringList fields = readRow(seed_csv_row(*token));
    if (token->algorithm == OtpAlgorithm::Totp) {
        FUZZ_CHECK(fields.size() == 6);
        FUZZ_CHECK(fields[0] == form.userName);
        FUZZ_CHECK(fields[1] == form.serialText);
        FUZZ_CHECK(fields[3] == (form.intervalChoice == 0 ? u"30" : u"60"));
    } else {
        FUZZ_CHECK(fields.size() == 2);
        FUZZ_CHECK(fields[0] == form.serialText);
        FUZZ_CHECK(fields[1] == form.seedText.toLower());
    }
    return 0;
}
