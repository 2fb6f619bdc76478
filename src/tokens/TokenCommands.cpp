#include "tokens/TokenCommands.h"

#include "pin/PinAccess.h"

#include <algorithm>
#include <initializer_list>

namespace {

const std::string kNotAvailable = "N/A";

std::string type_text(uint32_t type)
{
    switch (type) {
    case VN_TYPE_HOTP:
        return "HOTP";
    case VN_TYPE_TOTP:
        return "TOTP";
    case VN_TYPE_STATIC_PASSWORD:
        return "STATIC_PASSWORD";
    case VN_TYPE_CHALLENGE_RESPONSE:
        return "CHALLENGE_RESPONSE";
    default:
        return kNotAvailable;
    }
}

std::string hash_text(uint32_t hash)
{
    switch (hash) {
    case VN_HASH_SHA1:
        return "SHA-1";
    case VN_HASH_SHA256:
        return "SHA-256";
    default:
        return kNotAvailable;
    }
}

std::string number_from_set(uint32_t value, std::initializer_list<uint32_t> known)
{
    return std::ranges::find(known, value) != known.end() ? std::to_string(value) : kNotAvailable;
}

} // namespace

std::array<std::string, 5> token_cells(const OtpTokenRecord& record)
{
    return {
        token_serial(record),
        type_text(record.type),
        hash_text(record.hash),
        number_from_set(record.digits, {6, 8}),
        // By value for every type: a HOTP token's interval is shown as stored.
        number_from_set(record.interval, {30, 60}),
    };
}

const char* otp_label(const OtpTokenRecord& record)
{
    return record.type == VN_TYPE_TOTP ? "TOTP = " : "HOTP = ";
}

OpResult<OtpTokenRecord> token_with_serial(KeySession& key, std::string_view serial)
{
    auto tokens = key.tokens();
    if (!tokens)
        return std::unexpected(tokens.error());
    const auto found = std::ranges::find_if(
        *tokens, [&](const OtpTokenRecord& record) { return token_serial(record) == serial; });
    if (found == tokens->end())
        return fail(Fault::Refused, "The key holds no token SN=" + std::string(serial) + ".");
    return *found;
}

OpResult<OtpTokenRecord> listed_token_at(KeySession& key, int row, std::string_view shownSerial)
{
    auto tokens = key.tokens();
    if (!tokens)
        return std::unexpected(tokens.error());
    if (row < 0 || static_cast<std::size_t>(row) >= tokens->size() ||
        token_serial((*tokens)[static_cast<std::size_t>(row)]) != shownSerial)
        return fail(Fault::StaleList, "The token list is out of date.");
    return (*tokens)[static_cast<std::size_t>(row)];
}

OpResult<KeyInfo> describe_key(KeySession& key)
{
    auto serial = key.find_key();
    if (!serial)
        return std::unexpected(serial.error());
    auto tokens = key.tokens();
    if (!tokens)
        return std::unexpected(tokens.error());
    auto empty = is_access_empty(key);
    if (!empty)
        return fail(Fault::Device, empty.error().message);

    KeyInfo info;
    info.serial = *serial;
    info.pinMode = key.is_hwmaccess_supported() ? 0 : 1;
    info.pinPolicyOn = is_pin_policy_enabled(key);
    info.pinSet = !*empty;
    info.tokenCount = static_cast<int>(tokens->size());
    return info;
}
