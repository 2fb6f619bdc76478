#include "records/SeedFileReader.h"

#include "core/Codecs.h"
#include "core/SecretFile.h"

#include <fmt/format.h>
#include <pugixml.hpp>

#include <charconv>

using namespace otp::core;
using namespace otp::pskc;

namespace otp::records {

namespace {

// Seed files of many thousand tokens stay far below this.
constexpr std::size_t kSeedFileLimit = 64u << 20;

class Source
{
public:
    explicit Source(std::string_view name) : m_name(name) {}
    std::string_view name() const { return m_name; }
    std::unexpected<OpError> fail(std::string_view what) const
    {
        return std::unexpected(OpError{Fault::Refused, 0, fmt::format("{}: {}", m_name, what)});
    }
    std::unexpected<OpError> fail(std::size_t line, std::string_view what) const
    {
        return fail(fmt::format("line {}: {}", line, what));
    }

private:
    std::string_view m_name;
};

std::optional<int> parse_int(std::string_view text)
{
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::optional<OtpHash> hash_of_length(std::size_t bytes)
{
    if (bytes == 20)
        return OtpHash::Sha1;
    if (bytes == 32)
        return OtpHash::Sha256;
    return std::nullopt;
}

std::vector<std::string_view> split(std::string_view line, char separator)
{
    std::vector<std::string_view> fields;
    for (;;) {
        const auto at = line.find(separator);
        fields.push_back(line.substr(0, at));
        if (at == std::string_view::npos)
            return fields;
        line.remove_prefix(at + 1);
    }
}

OpResult<SeedRecord> hotp_row(const Source& source, std::size_t number,
                              const std::vector<std::string_view>& fields)
{
    if (fields.size() != 2)
        return source.fail(number, "an HOTP row has two fields, serial number and seed");
    auto seed = hex_decode(fields[1]);
    const auto hash = seed ? hash_of_length(seed->size()) : std::nullopt;
    if (!hash)
        return source.fail(number, "the seed is not 40 or 64 hexadecimal digits");
    SeedRecord record;
    record.algorithm = OtpAlgorithm::Hotp;
    record.serial = fields[0];
    record.seed = std::move(*seed);
    record.hash = *hash;
    return record;
}

// UPN, serial, seed, interval, manufacturer, model. The fields are not
// quoted, so a comma in the user name makes more fields: those on the left
// all belong to the name.
OpResult<SeedRecord> totp_row(const Source& source, std::size_t number,
                              const std::vector<std::string_view>& fields)
{
    if (fields.size() < 6)
        return source.fail(number, "a TOTP row has six fields");
    const std::size_t serial = fields.size() - 5;
    auto seed = base32_decode(fields[serial + 1]);
    const auto hash = seed ? hash_of_length(seed->size()) : std::nullopt;
    if (!hash)
        return source.fail(number, "the seed is not base32 of 20 or 32 bytes");
    const auto interval = parse_int(fields[serial + 2]);
    if (!interval || *interval <= 0)
        return source.fail(number, "the time interval is not a positive number");
    SeedRecord record;
    record.algorithm = OtpAlgorithm::Totp;
    for (std::size_t i = 0; i < serial; ++i)
        record.userName.append(i ? "," : "").append(fields[i]);
    record.serial = fields[serial];
    record.seed = std::move(*seed);
    record.hash = *hash;
    record.interval = *interval;
    return record;
}

OpResult<std::vector<SeedRecord>> parse_csv(const Source& source, std::string_view bytes)
{
    const auto text = utf16le_to_utf8(bytes);
    if (!text)
        return source.fail("is not UTF-16LE text");
    std::optional<OtpAlgorithm> algorithm;
    std::vector<SeedRecord> records;
    std::size_t number = 0;
    for (std::string_view line : split(*text, '\n')) {
        ++number;
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        if (line.empty())
            continue;
        if (number == 1 && line.starts_with("Serial Number,")) {
            algorithm = OtpAlgorithm::Hotp;
            continue;
        }
        if (number == 1 && line.starts_with("UPN,")) {
            algorithm = OtpAlgorithm::Totp;
            continue;
        }
        const auto fields = split(line, ',');
        // A file created empty by someone else has rows but no header line.
        if (!algorithm)
            algorithm = fields.size() == 2 ? OtpAlgorithm::Hotp : OtpAlgorithm::Totp;
        auto record = *algorithm == OtpAlgorithm::Hotp ? hotp_row(source, number, fields)
                                                       : totp_row(source, number, fields);
        if (!record)
            return std::unexpected(record.error());
        record->source = source.name();
        records.push_back(std::move(*record));
    }
    return records;
}

OpResult<std::vector<SeedRecord>> parse_xml(const Source& source, std::string_view bytes)
{
    pugi::xml_document xml;
    const pugi::xml_parse_result parsed =
        xml.load_buffer(bytes.data(), bytes.size(), pugi::parse_default, pugi::encoding_auto);
    if (!parsed)
        return source.fail(fmt::format("is not well-formed XML ({} at byte {})",
                                       parsed.description(), parsed.offset));
    const pugi::xml_node header = xml.child("data").child("header");
    const std::string_view product = header.child_value("productCode");
    const pugi::xml_node timeWindow = header.child("timeWindow");
    OtpAlgorithm algorithm;
    if (product == "PM" || (product.empty() && !timeWindow))
        algorithm = OtpAlgorithm::Hotp;
    else if (product == "PW" || product.empty())
        algorithm = OtpAlgorithm::Totp;
    else
        return source.fail(
            fmt::format("productCode '{}' is neither PM (HOTP) nor PW (TOTP)", product));
    std::optional<int> window;
    if (algorithm == OtpAlgorithm::Totp) {
        window = timeWindow ? parse_int(timeWindow.child_value()) : 30;
        if (!window || *window <= 0)
            return source.fail("the header's timeWindow is not a positive number");
    }

    const pugi::xml_node tokens = xml.child("data").child("tokens");
    if (!tokens)
        return source.fail("is not a seed file: it has no data/tokens element");
    std::vector<SeedRecord> records;
    std::size_t index = 0;
    for (pugi::xml_node token : tokens.children("token")) {
        ++index;
        SeedRecord record;
        record.source = source.name();
        record.algorithm = algorithm;
        record.serial = token.child_value("serial");
        const std::string label =
            record.serial.empty() ? fmt::format("token {}", index) : "token " + record.serial;
        auto seed = hex_decode(token.child_value("seed"));
        if (record.serial.empty() || !seed || seed->empty())
            return source.fail(
                fmt::format("{} lacks a serial number or a hexadecimal seed", label));
        const std::string_view crypto = token.child_value("crypto");
        const auto byLength = hash_of_length(seed->size());
        if (crypto == "HmacSHA1")
            record.hash = OtpHash::Sha1;
        else if (crypto == "HmacSHA256")
            record.hash = OtpHash::Sha256;
        else if (crypto.empty() && byLength)
            record.hash = *byLength;
        else
            return source.fail(fmt::format("{} has crypto '{}'", label, crypto));
        if (const pugi::xml_node digits = token.child("digits")) {
            record.digits = parse_int(digits.child_value());
            if (!record.digits)
                return source.fail(fmt::format("{} has digits '{}'", label, digits.child_value()));
        }
        record.seed = std::move(*seed);
        record.userName = token.child_value("name");
        record.headerTimeWindow = window;
        records.push_back(std::move(record));
    }
    return records;
}

} // namespace

OpResult<std::vector<SeedRecord>> parse_seed_file(std::string_view bytes,
                                                  std::string_view sourceName)
{
    const Source source(sourceName);
    const auto start = bytes.find_first_not_of(" \t\r\n\xEF\xBB\xBF");
    if (start != std::string_view::npos && bytes[start] == '<')
        return parse_xml(source, bytes);
    return parse_csv(source, bytes);
}

OpResult<std::vector<SeedRecord>> read_seed_file(const std::filesystem::path& path)
{
    auto bytes = read_file(path, kSeedFileLimit);
    if (!bytes)
        return std::unexpected(bytes.error());
    auto records = parse_seed_file(*bytes, path.string());
    wipe(bytes->data(), bytes->size());
    return records;
}

} // namespace otp::records
