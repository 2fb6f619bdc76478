// The CSV row of a new token. Its fields are joined without quoting, so the
// New Token checks must refuse any serial number or user name that would not
// read back from the row as the same field.

#include "FuzzCheck.h"
#include "programming/NewToken.h"

#include <QStringList>

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

// First byte: algorithm, hash and interval choices. The rest: UTF-16LE code
// units of the serial text, a U+0000, then the user name.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    NewTokenForm form;
    form.algorithmChoice = data[0] & 1;
    form.hashChoice = (data[0] >> 1) & 1;
    form.intervalChoice = (data[0] >> 2) & 1;
    form.seedText = form.hashChoice == 0 ? QString(40, u'a') : QString(64, u'7');
    QString* field = &form.serialText;
    for (size_t i = 1; i + 1 < size; i += 2) {
        const auto unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        if (unit == 0 && field == &form.serialText)
            field = &form.userName;
        else
            field->append(QChar(unit));
    }

    const auto token = check_new_token(form);
    if (!token)
        return 0;
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
