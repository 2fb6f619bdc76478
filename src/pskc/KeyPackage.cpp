#include "pskc/KeyPackage.h"

#include <fmt/chrono.h>

#include <charconv>
#include <optional>

using namespace otp::core;

namespace otp::pskc {
namespace {

std::optional<int> number_at(std::string_view text, std::size_t at, std::size_t length)
{
    if (at + length > text.size())
        return std::nullopt;
    int value = 0;
    const char* first = text.data() + at;
    const auto [end, error] = std::from_chars(first, first + length, value);
    if (error != std::errc{} || end != first + length)
        return std::nullopt;
    return value;
}

// xs:dateTime: YYYY-MM-DDTHH:MM:SS, a fraction, then Z, +HH:MM, -HH:MM or
// nothing (read as UTC).
std::optional<std::time_t> parse_date_time(std::string_view text)
{
    const auto year = number_at(text, 0, 4), month = number_at(text, 5, 2),
               day = number_at(text, 8, 2), hour = number_at(text, 11, 2),
               minute = number_at(text, 14, 2), second = number_at(text, 17, 2);
    if (!year || !month || !day || !hour || !minute || !second || text[4] != '-' ||
        text[7] != '-' || text[10] != 'T' || text[13] != ':' || text[16] != ':')
        return std::nullopt;
    std::tm parts{};
    parts.tm_year = *year - 1900;
    parts.tm_mon = *month - 1;
    parts.tm_mday = *day;
    parts.tm_hour = *hour;
    parts.tm_min = *minute;
    parts.tm_sec = *second;
    std::time_t at = timegm(&parts);
    std::size_t rest = 19;
    if (rest < text.size() && text[rest] == '.')
        for (++rest; rest < text.size() && text[rest] >= '0' && text[rest] <= '9';)
            ++rest;
    const std::string_view zone = text.substr(rest);
    if (zone.empty() || zone == "Z")
        return at;
    const auto zoneHour = number_at(zone, 1, 2), zoneMinute = number_at(zone, 4, 2);
    if (zone.size() != 6 || (zone[0] != '+' && zone[0] != '-') || zone[3] != ':' || !zoneHour ||
        !zoneMinute)
        return std::nullopt;
    const std::time_t offset = (*zoneHour * 60 + *zoneMinute) * 60;
    return zone[0] == '+' ? at - offset : at + offset;
}

} // namespace

bool is_retired(const KeyPackage& package, std::time_t now)
{
    if (package.expiryDate.empty())
        return false;
    const auto expiry = parse_date_time(package.expiryDate);
    return !expiry || *expiry <= now;
}

std::string expiry_date_text(std::time_t now)
{
    return fmt::format("{:%Y-%m-%dT%H:%M:%S}Z", fmt::gmtime(now));
}

KeyPackage make_key_package(const TokenDescription& token, std::string deviceSerial)
{
    KeyPackage package;
    package.keyId = token.serial;
    package.algorithm = token.algorithm;
    package.hash = token.hash;
    package.digits = token.digits;
    if (token.algorithm == OtpAlgorithm::Hotp)
        package.counter = 0;
    else
        package.interval = token.interval;
    package.userId = token.user;
    package.deviceSerial = std::move(deviceSerial);
    package.secret = token.seed;
    return package;
}

} // namespace otp::pskc
