#include "tokens/TokenCommands.h"

#include "pin/PinAccess.h"

#include <algorithm>

using namespace otp::core;
using namespace otp::device;
using namespace otp::pin;

namespace otp::tokens {

namespace {

const std::string kNotAvailable = "N/A";

template <class T, class Word> std::string cell(const Known<T>& value, Word word)
{
    return value ? std::string(word(*value)) : kNotAvailable;
}

} // namespace

std::string_view token_type_name(TokenType type)
{
    switch (type) {
    case TokenType::Hotp:
        return "HOTP";
    case TokenType::Totp:
        return "TOTP";
    case TokenType::StaticPassword:
        return "STATIC_PASSWORD";
    case TokenType::ChallengeResponse:
        return "CHALLENGE_RESPONSE";
    }
    return kNotAvailable;
}

std::array<std::string, 5> token_cells(const ListedToken& token)
{
    const auto number = [](int value) { return std::to_string(value); };
    return {
        token.serial,
        cell(token.type, token_type_name),
        cell(token.hash, hash_name),
        cell(token.digits, number),
        // By value for every type: a HOTP token's interval is shown as stored.
        cell(token.interval, number),
    };
}

const char* otp_label(const ListedToken& token)
{
    return token.type == TokenType::Totp ? "TOTP = " : "HOTP = ";
}

OpResult<ListedToken> token_with_serial(KeySession& key, std::string_view serial)
{
    auto tokens = key.tokens();
    if (!tokens)
        return std::unexpected(tokens.error());
    const auto found = std::ranges::find(*tokens, serial, &ListedToken::serial);
    if (found == tokens->end())
        return fail(Fault::Refused, "The key holds no token SN=" + std::string(serial) + ".");
    return std::move(*found);
}

OpResult<ListedToken> listed_token_at(KeySession& key, int row, std::string_view shownSerial)
{
    auto tokens = key.tokens();
    if (!tokens)
        return std::unexpected(tokens.error());
    if (row < 0 || static_cast<std::size_t>(row) >= tokens->size() ||
        (*tokens)[static_cast<std::size_t>(row)].serial != shownSerial)
        return fail(Fault::StaleList, "The token list is out of date.");
    return std::move((*tokens)[static_cast<std::size_t>(row)]);
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
        return std::unexpected(empty.error());

    KeyInfo info;
    info.serial = *serial;
    info.pinMode = key.is_hwmaccess_supported() ? 0 : 1;
    info.pinPolicyOn = is_pin_policy_enabled(key);
    info.pinSet = !*empty;
    info.tokenCount = static_cast<int>(tokens->size());
    return info;
}

} // namespace otp::tokens
