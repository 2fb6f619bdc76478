#include "records/SeedConversion.h"

#include <fmt/format.h>

#include <map>
#include <unordered_map>

using namespace otp::core;
using namespace otp::pskc;

namespace otp::records {

namespace {

constexpr int kDefaultTimeStep = 30;

std::string_view kind_name(OtpAlgorithm algorithm)
{
    return algorithm == OtpAlgorithm::Hotp ? "an HOTP" : "a TOTP";
}

std::string joined(const std::vector<std::string>& items)
{
    std::string text;
    for (const std::string& item : items)
        text.append(text.empty() ? "" : ", ").append(item);
    return text;
}

// Everything known of one serial number, with where each fact came from.
struct Token
{
    const SeedRecord* first = nullptr;
    OtpHash hash = OtpHash::Sha1;
    std::optional<int> digits;
    const SeedRecord* digitsFrom = nullptr;
    std::optional<int> interval;
    const SeedRecord* intervalFrom = nullptr;
    const SeedRecord* headerFrom = nullptr;
    std::string csvUser;
    std::string xmlUser;
};

std::unexpected<OpError> conflict(const SeedRecord& a, const SeedRecord& b, std::string_view what)
{
    const std::string where = a.source == b.source
                                  ? fmt::format("twice in {}", a.source)
                                  : fmt::format("in {} and {}", a.source, b.source);
    return std::unexpected(OpError{Fault::Conflict, 0,
                                   fmt::format("serial number {} {} ({})", a.serial, what, where)});
}

OpResult<void> merge(Token& token, const SeedRecord& record)
{
    const SeedRecord& first = *token.first;
    if (record.algorithm != first.algorithm)
        return conflict(first, record,
                        fmt::format("is {} token and {} token", kind_name(first.algorithm),
                                    kind_name(record.algorithm)));
    if (!(record.seed == first.seed))
        return conflict(first, record, "has two different seeds");
    if (record.hash != token.hash)
        return conflict(
            first, record,
            fmt::format("is both {} and {}", hash_name(token.hash), hash_name(record.hash)));
    if (record.digits) {
        if (token.digits && *token.digits != *record.digits)
            return conflict(*token.digitsFrom, record,
                            fmt::format("has {} and {} digits", *token.digits, *record.digits));
        token.digits = record.digits;
        token.digitsFrom = &record;
    }
    if (record.interval) {
        if (token.interval && *token.interval != *record.interval)
            return conflict(*token.intervalFrom, record,
                            fmt::format("has time steps of {} and {} seconds", *token.interval,
                                        *record.interval));
        token.interval = record.interval;
        token.intervalFrom = &record;
        if (token.csvUser.empty())
            token.csvUser = record.userName;
    } else {
        if (record.headerTimeWindow && !token.headerFrom)
            token.headerFrom = &record;
        if (token.xmlUser.empty())
            token.xmlUser = record.userName;
    }
    return {};
}

} // namespace

OpResult<Conversion> merge_seed_records(std::span<const SeedRecord> records,
                                        const ConversionOptions& options)
{
    if (options.digits && *options.digits != 6 && *options.digits != 8)
        return std::unexpected(OpError{Fault::Refused, 0, "the key's tokens have 6 or 8 digits"});

    std::vector<Token> tokens;
    std::unordered_map<std::string, std::size_t> bySerial;
    for (const SeedRecord& record : records) {
        const auto [it, inserted] = bySerial.try_emplace(record.serial, tokens.size());
        if (inserted) {
            Token& token = tokens.emplace_back();
            token.first = &record;
            token.hash = record.hash;
        }
        if (auto merged = merge(tokens[it->second], record); !merged)
            return std::unexpected(merged.error());
    }

    Conversion conversion;
    std::vector<std::string> unknownDigits;
    // Tokens whose time step is not their own, by (where it is from, step).
    std::map<std::pair<std::string, int>, std::vector<std::string>> guessedSteps;
    for (const Token& token : tokens) {
        const SeedRecord& first = *token.first;
        const int digits = token.digits.value_or(options.digits.value_or(0));
        if (digits == 0) {
            unknownDigits.push_back(first.serial);
            continue;
        }
        int interval = 0;
        if (first.algorithm == OtpAlgorithm::Totp) {
            if (token.interval) {
                interval = *token.interval;
            } else if (token.headerFrom) {
                interval = *token.headerFrom->headerTimeWindow;
                guessedSteps[{"the header of " + token.headerFrom->source, interval}].push_back(
                    first.serial);
            } else {
                interval = kDefaultTimeStep;
                guessedSteps[{"RFC 6238", interval}].push_back(first.serial);
            }
        }
        conversion.packages.push_back(pskc::make_key_package(
            TokenDescription{.algorithm = first.algorithm,
                             .hash = token.hash,
                             .digits = digits,
                             .interval = interval,
                             .serial = first.serial,
                             .seed = first.seed,
                             .user = token.csvUser.empty() ? token.xmlUser : token.csvUser}));
    }
    if (!unknownDigits.empty())
        return std::unexpected(OpError{
            Fault::UnknownDigits, 0,
            fmt::format("the number of digits of {} is unknown: no XML seed file lists {}; give "
                        "the number of digits",
                        joined(unknownDigits), unknownDigits.size() == 1 ? "it" : "them")});
    for (const auto& [where, serials] : guessedSteps)
        conversion.notes.push_back(fmt::format(
            "{}: no time step in a tseeds.csv; converted with the time window of {} seconds "
            "from {}",
            joined(serials), where.second, where.first));
    return conversion;
}

OpResult<Conversion> convert_seed_files(std::span<const std::filesystem::path> files,
                                        const ConversionOptions& options)
{
    std::vector<SeedRecord> records;
    for (const std::filesystem::path& file : files) {
        auto read = read_seed_file(file);
        if (!read)
            return std::unexpected(read.error());
        std::move(read->begin(), read->end(), std::back_inserter(records));
    }
    return merge_seed_records(records, options);
}

} // namespace otp::records
