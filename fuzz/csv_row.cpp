// The CSV row of a new token. Its fields are joined without quoting, so the
// New Token checks and the CSV recorder's must refuse any serial number or
// user name that would not read back from the row as the same field, or that
// a spreadsheet would take for a formula.

#include "FuzzCheck.h"
#include "core/Codecs.h"
#include "programming/NewToken.h"
#include "programming/SeedHandling.h"
#include "records/SeedFileRecorder.h"

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

using namespace otp;
using namespace otp::core;
using namespace otp::records;
using namespace otp::programming;

namespace {

// The row as the authentication server reads it: UTF-16LE, one line ending
// in CR LF, fields split at every comma.
std::vector<std::string> readRow(const std::string& bytes)
{
    const auto text = utf16le_to_utf8(bytes);
    FUZZ_CHECK(text && text->ends_with("\r\n"));
    const std::string_view line(text->data(), text->size() - 2);
    FUZZ_CHECK(line.find_first_of("\r\n") == std::string_view::npos);
    std::vector<std::string> fields;
    for (std::size_t start = 0;;) {
        const auto comma = line.find(',', start);
        fields.emplace_back(line.substr(start, comma - start));
        if (comma == std::string_view::npos)
            return fields;
        start = comma + 1;
    }
}

bool formula(const std::string& field)
{
    return !field.empty() && std::string_view("=+-@").find(field.front()) != std::string_view::npos;
}

} // namespace

// First byte: algorithm, hash and interval choices; second byte: how many
// of the UTF-16LE code units that follow are the serial text, the others are
// the user name.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    NewTokenInput input;
    input.algorithm = data[0] & 1 ? OtpAlgorithm::Totp : OtpAlgorithm::Hotp;
    input.hash = (data[0] >> 1) & 1 ? OtpHash::Sha256 : OtpHash::Sha1;
    input.interval = (data[0] >> 2) & 1 ? 60 : 30;
    input.seedHex = input.hash == OtpHash::Sha1 ? std::string(40, 'a') : std::string(64, '7');
    std::u16string serial, user;
    for (size_t i = 2; i + 1 < size; i += 2) {
        const auto unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        (i / 2 <= data[1] ? serial : user).push_back(unit);
    }
    input.serial = utf16_to_utf8(serial);
    input.user = utf16_to_utf8(user);

    const auto token = check_new_token(input);
    if (!token || !check_csv_fields(*token))
        return 0;
    // The key is programmed with the serial number the files record: it
    // keeps 13 bytes, read up to the first NUL.
    FUZZ_CHECK(token->serial.size() <= kSerialNumberLength &&
               token->serial.find('\0') == std::string::npos);
    // The XML file records the user name as text up to its first NUL, and
    // what was typed is what is recorded.
    FUZZ_CHECK(token->user.find('\0') == std::string::npos);
    FUZZ_CHECK(utf8_to_utf16le(token->user) ==
               std::string(reinterpret_cast<const char*>(user.data()), 2 * user.size()));

    const std::vector<std::string> fields = readRow(seed_csv_row(*token));
    if (token->algorithm == OtpAlgorithm::Totp) {
        FUZZ_CHECK(fields.size() == 6);
        FUZZ_CHECK(fields[0] == input.user && !formula(fields[0]));
        FUZZ_CHECK(fields[1] == input.serial && !formula(fields[1]));
        FUZZ_CHECK(fields[3] == (input.interval == 30 ? "30" : "60"));
    } else {
        FUZZ_CHECK(fields.size() == 2);
        FUZZ_CHECK(fields[0] == input.serial && !formula(fields[0]));
        FUZZ_CHECK(fields[1] == input.seedHex);
    }
    return 0;
}
