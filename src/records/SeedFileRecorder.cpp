#include "records/SeedFileRecorder.h"

#include "core/SecretFile.h"

#include <fmt/format.h>

#include <sys/stat.h>

namespace {

std::size_t index(OtpAlgorithm algorithm)
{
    return algorithm == OtpAlgorithm::Hotp ? 0 : 1;
}

std::string_view field_name(bool serial)
{
    return serial ? "serial number" : "user name";
}

} // namespace

OpResult<void> check_csv_fields(const TokenDescription& token)
{
    for (const bool serial : {true, false}) {
        // hseeds.csv has no user column: an HOTP token's user name goes into
        // hseeds.xml only.
        if (!serial && token.algorithm == OtpAlgorithm::Hotp)
            continue;
        const std::string& text = serial ? token.serial : token.user;
        if (text.find_first_of(",\"") != std::string::npos)
            return fail(Fault::Refused,
                        fmt::format("The {} must not contain a comma or a double quote: the CSV "
                                    "seed file cannot hold them.",
                                    field_name(serial)));
        if (!text.empty() && std::string_view("=+-@").find(text.front()) != std::string::npos)
            return fail(Fault::Refused,
                        fmt::format("The {} must not begin with =, +, - or @: a spreadsheet "
                                    "opening the CSV seed file would run it as a formula.",
                                    field_name(serial)));
    }
    return {};
}

bool SeedFileRecorder::FileIdentity::operator==(const FileIdentity& other) const
{
    return device == other.device && inode == other.inode && size == other.size &&
           modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec;
}

SeedFileRecorder::SeedFileRecorder(std::filesystem::path folder) : m_folder(std::move(folder)) {}

std::optional<SeedFileRecorder::FileIdentity>
SeedFileRecorder::identity_of(const std::filesystem::path& path) const
{
    struct stat st = {};
    if (::lstat(path.c_str(), &st) != 0)
        return std::nullopt;
    return FileIdentity{st.st_dev, st.st_ino, st.st_size, st.st_mtim};
}

SeedFileText& SeedFileRecorder::text(OtpAlgorithm algorithm)
{
    Cached& cached = m_cache[index(algorithm)];
    const auto now = identity_of(seed_xml_path(algorithm, m_folder));
    const bool unchanged = cached.text && cached.text->usable() &&
                           cached.present == now.has_value() && (!now || cached.identity == *now);
    if (!unchanged) {
        cached.text = std::make_unique<SeedFileText>(load_seed_text(algorithm, m_folder));
        cached.present = now.has_value();
        cached.identity = now.value_or(FileIdentity{});
    }
    return *cached.text;
}

OpResult<void> SeedFileRecorder::check(const TokenDescription& token)
{
    if (auto folder = check_private_folder(m_folder); !folder)
        return folder;
    if (auto fields = check_csv_fields(token); !fields)
        return fields;
    const std::filesystem::path xml = seed_xml_path(token.algorithm, m_folder);
    if (auto csv = check_private_file(seed_csv_path(xml)); !csv)
        return csv;
    const SeedFileText& current = text(token.algorithm);
    if (current.unreadable)
        return fail(Fault::Refused, current.unusableReason);
    if (!current.usable())
        return fail(Fault::Refused,
                    fmt::format("{} {}; it is left alone. Move it away, or repair it, and try "
                                "again.",
                                xml.string(), current.unusableReason));
    return {};
}

std::vector<RecordOutcome> SeedFileRecorder::record(const TokenDescription& token, std::string_view)
{
    const std::filesystem::path xmlPath = seed_xml_path(token.algorithm, m_folder);
    std::vector<RecordOutcome> outcomes{{xmlPath, std::nullopt},
                                        {seed_csv_path(xmlPath), std::nullopt}};

    SeedFileText& current = text(token.algorithm);
    Cached& cached = m_cache[index(token.algorithm)];
    if (!current.usable()) {
        outcomes[0].failure = failure_at(xmlPath, OpError{Fault::Io, 0, current.unusableReason});
    } else {
        // A file begun from the template is new, and owner-only as a new file
        // is, even where an empty one that others may read stood before.
        const auto written =
            replace_private_file(xmlPath, current.append(token), current.fromTemplate);
        if (!written) {
            outcomes[0].failure = failure_at(xmlPath, written.error());
            cached.text.reset(); // it holds a token the file does not
        } else {
            current.fromTemplate = false;
            if (const auto now = identity_of(xmlPath)) {
                cached.identity = *now;
                cached.present = true;
            }
        }
    }
    if (auto written = write_seed_csv(outcomes[1].destination, token); !written)
        outcomes[1].failure = failure_at(outcomes[1].destination, written.error());
    return outcomes;
}
