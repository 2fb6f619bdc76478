#include "KeyState.h"

#include "Text.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdint>
#include <set>
#include <utility>

namespace vkey {

using nlohmann::json;

namespace {

constexpr int kFormat = 1;

json tokenToJson(const Token& t, bool withCounter)
{
    json j = {
        {"serial", bytesToUtf8(t.serial)},
        {"type", t.type},
        {"hash", t.hash},
        {"digits", t.digits},
        {"interval", t.interval},
        {"seed", toHex(t.seed)},
    };
    if (withCounter)
        j["counter"] = t.counter;
    return j;
}

// nlohmann casts whatever number it finds to the type asked for: a float out
// of range is undefined behaviour, a wider integer wraps round. A key file
// holds exact integers, so anything else is a damaged field.
template <class T> T integer(const json& j)
{
    if (j.is_number_unsigned()) {
        if (const auto v = j.get<uint64_t>(); std::in_range<T>(v))
            return static_cast<T>(v);
    } else if (j.is_number_integer()) {
        if (const auto v = j.get<int64_t>(); std::in_range<T>(v))
            return static_cast<T>(v);
    }
    throw json::out_of_range::create(406, "not an integer of the field's range", &j);
}

// Field access through nlohmann throws on a wrong type; the caller turns
// that into VN_ERR_CORRUPT_KEY.
std::optional<Token> tokenFromJson(const json& j, bool withCounter)
{
    Token t;
    auto serial = utf8ToBytes(j.at("serial").get<std::string>());
    auto seed = fromHex(j.at("seed").get<std::string>());
    if (!serial || !seed || seed->size() > VN_SEED_FIELD_SIZE ||
        serial->size() >= VN_SERIAL_FIELD_SIZE || serial->find('\0') != std::string::npos)
        return std::nullopt;
    t.serial = *serial;
    t.seed = *seed;
    t.type = integer<uint32_t>(j.at("type"));
    t.hash = integer<uint32_t>(j.at("hash"));
    t.digits = integer<uint32_t>(j.at("digits"));
    t.interval = integer<uint32_t>(j.at("interval"));
    if (withCounter)
        t.counter = integer<uint64_t>(j.at("counter"));
    return t;
}

std::optional<TouchMode> touchModeFromName(const std::string& name)
{
    for (TouchMode m : {TouchMode::Auto, TouchMode::Manual, TouchMode::Never})
        if (name == touchModeName(m))
            return m;
    return std::nullopt;
}

} // namespace

const char* touchModeName(TouchMode mode)
{
    switch (mode) {
    case TouchMode::Auto:
        return "auto";
    case TouchMode::Manual:
        return "manual";
    case TouchMode::Never:
        return "never";
    }
    return "?";
}

bool isValidKeySerial(std::string_view serial)
{
    if (serial.empty() || serial.size() > kMaxKeySerialLength)
        return false;
    return std::ranges::all_of(serial, [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
               c == '-' || c == '_';
    });
}

bool isValidOtpToken(const Token& t)
{
    return (t.type == VN_TYPE_HOTP || t.type == VN_TYPE_TOTP) &&
           (t.hash == VN_HASH_SHA1 || t.hash == VN_HASH_SHA256) &&
           (t.digits == 6 || t.digits == 8) && (t.interval == 30 || t.interval == 60) &&
           !t.serial.empty() && t.serial.size() < VN_SERIAL_FIELD_SIZE &&
           (t.seed.size() == 20 || t.seed.size() == 32);
}

std::string toJson(const KeyState& key)
{
    json tokens = json::array();
    for (const Token& t : key.tokens)
        tokens.push_back(tokenToJson(t, true));
    json j = {
        {"format", kFormat},
        {"serial", key.serial},
        {"hardwareAccess", key.hardwareAccess},
        {"accessCode", key.accessCode
                           ? json(toHex({reinterpret_cast<const uint8_t*>(key.accessCode->data()),
                                         key.accessCode->size()}))
                           : json(nullptr)},
        {"enter", key.enter},
        {"touch",
         {{"mode", touchModeName(key.touch.mode)},
          {"delayMs", key.touch.delayMs},
          {"timeoutMs", key.touch.timeoutMs}}},
        {"pinRecord", key.pinRecord ? tokenToJson(*key.pinRecord, false) : json(nullptr)},
        {"tokens", tokens},
    };
    return j.dump(2) + "\n";
}

Result<KeyState> fromJson(std::string_view text)
{
    auto corrupt = [](const std::string& why) {
        return fail(VN_ERR_CORRUPT_KEY, "the key file is damaged (" + why + ")");
    };
    json j = json::parse(text, nullptr, false);
    if (j.is_discarded() || !j.is_object())
        return corrupt("not a JSON object");
    try {
        if (integer<int>(j.at("format")) != kFormat)
            return corrupt("unknown format");
        KeyState key;
        key.serial = j.at("serial").get<std::string>();
        if (!isValidKeySerial(key.serial))
            return corrupt("bad key serial");
        key.hardwareAccess = j.at("hardwareAccess").get<bool>();
        if (const json& code = j.at("accessCode"); !code.is_null()) {
            auto bytes = fromHex(code.get<std::string>());
            if (!bytes || bytes->empty() || bytes->size() > kMaxAccessCodeLength)
                return corrupt("bad access code");
            key.accessCode = std::string(bytes->begin(), bytes->end());
        }
        key.enter = j.at("enter").get<bool>();
        const json& touch = j.at("touch");
        auto mode = touchModeFromName(touch.at("mode").get<std::string>());
        key.touch.delayMs = integer<int>(touch.at("delayMs"));
        key.touch.timeoutMs = integer<int>(touch.at("timeoutMs"));
        if (!mode || key.touch.delayMs < 0 || key.touch.delayMs > kMaxTouchMs ||
            key.touch.timeoutMs < 0 || key.touch.timeoutMs > kMaxTouchMs)
            return corrupt("bad touch setting");
        key.touch.mode = *mode;
        if (const json& pin = j.at("pinRecord"); !pin.is_null()) {
            key.pinRecord = tokenFromJson(pin, false);
            if (!key.pinRecord)
                return corrupt("bad slot-1 record");
        }
        std::set<std::string> serials;
        if (!j.at("tokens").is_array())
            return corrupt("bad token list");
        for (const json& tj : j.at("tokens")) {
            auto token = tokenFromJson(tj, true);
            if (!token || !isValidOtpToken(*token) || !serials.insert(token->serial).second)
                return corrupt("bad token");
            key.tokens.push_back(*token);
        }
        if (key.tokens.size() > VN_MAX_TOKENS)
            return corrupt("too many tokens");
        return key;
    } catch (const json::exception&) {
        return corrupt("missing or mistyped field");
    }
}

} // namespace vkey
