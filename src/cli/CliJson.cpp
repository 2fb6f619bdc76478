#include "cli/CliJson.h"

#include "cli/TokenOptions.h"
#include "core/Codecs.h"
#include "pskc/KeyPackage.h"

#include <ostream>

using namespace otp::core;
using namespace otp::device;
using namespace otp::pskc;
using namespace otp::records;
using namespace otp::tokens;
using namespace otp::programming;

namespace otp::cli {

namespace {

using nlohmann::json;

json or_null(const std::string& text)
{
    return text.empty() ? json(nullptr) : json(text);
}

// A value the tool does not know is null.
template <class T, class Word> json known_or_null(const Known<T>& value, Word word)
{
    return value ? json(word(*value)) : json(nullptr);
}

json number(int value)
{
    return value;
}

// Every token object has these fields; the type and hash are null when the
// tool does not know them, the interval is null for HOTP.
json token(const std::string& serial, json type, json hash, json digits, json interval,
           const std::string& keySerial, const std::string& user)
{
    const bool hotp = type == "HOTP";
    return {{"serial", serial},
            {"type", type},
            {"hash", hash},
            {"digits", digits},
            {"interval", hotp ? json(nullptr) : interval},
            {"keySerial", or_null(keySerial)},
            {"user", or_null(user)},
            {"verified", false}};
}

} // namespace

json json_document(const std::string& command)
{
    return {{"version", kJsonVersion}, {"command", command}};
}

json token_json(const ListedToken& t, const std::string& keySerial)
{
    return token(t.serial, known_or_null(t.type, token_type_name), known_or_null(t.hash, hash_name),
                 known_or_null(t.digits, number), known_or_null(t.interval, number), keySerial, "");
}

json token_json(const ProgrammedToken& programmed, bool showSeed)
{
    const TokenDescription& t = programmed.token;
    json row = token(t.serial, algorithm_name(t.algorithm), hash_name(t.hash), t.digits, t.interval,
                     programmed.keySerial, t.user);
    if (programmed.verification && *programmed.verification) {
        const Verification& v = **programmed.verification;
        row["verified"] = true;
        row["verification"] = {{"at", v.at}, {"keyOtp", v.keyOtp}, {"seedOtp", v.seedOtp}};
    }
    json files = json::array();
    for (const RecordOutcome& outcome : programmed.records)
        if (outcome.recorded())
            files.push_back(outcome.destination.string());
    row["recorded"] = programmed.recorded();
    row["recordedIn"] = files;
    if (showSeed)
        row["seed"] = to_hex_upper(t.seed.view());
    return row;
}

json token_json(const pskc::KeyPackage& p, bool showSeed)
{
    json row = token(p.keyId, algorithm_name(p.algorithm), hash_name(p.hash),
                     p.digits ? json(*p.digits) : json(nullptr),
                     p.interval ? json(*p.interval) : json(nullptr), p.deviceSerial, p.userId);
    if (showSeed)
        row["seed"] = to_hex_upper(p.secret.view());
    return row;
}

json failed_token_json(const TokenOptions& options, const std::optional<std::string>& serial,
                       const std::string& keySerial, const std::string& reason)
{
    json row = token("", algorithm_name(algorithm_of(options)), hash_name(hash_of(options)),
                     options.digits, options.interval, keySerial, options.user);
    row["serial"] = serial ? json(*serial) : json(nullptr);
    row["recorded"] = false;
    row["recordedIn"] = json::array();
    row["reason"] = reason;
    return row;
}

json key_json(const KeyInfo& info)
{
    return {{"serial", info.serial},
            {"pinMode", info.pinMode},
            {"pinPolicy", info.pinPolicyOn},
            {"pinSet", info.pinSet},
            {"tokenCount", info.tokenCount}};
}

void print_json(std::ostream& out, const json& document)
{
    out << document.dump(2, ' ', false, json::error_handler_t::replace) << '\n';
}

} // namespace otp::cli
