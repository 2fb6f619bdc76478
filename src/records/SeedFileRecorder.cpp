#include "records/SeedFileRecorder.h"

#include "core/SecretFile.h"

#include <fmt/format.h>

#include <fcntl.h>
#include <sys/stat.h>

using namespace otp::core;

namespace otp::records {

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

SeedFileRecorder::SeedFileRecorder(std::filesystem::path folder, std::string csvWayOut)
    : m_folder(std::move(folder)), m_csvWayOut(std::move(csvWayOut))
{
}

OpResult<std::vector<const OpenFolder*>> SeedFileRecorder::open_folders()
{
    if (!m_open) {
        if (m_folder.empty())
            return fail(Fault::Refused,
                        "No seed folder can be chosen: HOME is not set (or not an absolute "
                        "path), and neither VNOTP_SEED_DIR nor XDG_DATA_HOME names an absolute "
                        "folder. Set one of them, or name the seed folder.");
        auto folder = OpenFolder::open(m_folder, "the seed folder " + m_folder.string());
        if (!folder)
            return std::unexpected(folder.error());
        m_open.emplace(std::move(*folder));
    }
    return std::vector<const OpenFolder*>{&*m_open};
}

FileAt SeedFileRecorder::xml_file(OtpAlgorithm algorithm) const
{
    const std::filesystem::path shown = seed_xml_path(algorithm, m_folder);
    return m_open->file(shown.filename().string(), shown);
}

std::optional<SeedFileRecorder::FileIdentity>
SeedFileRecorder::identity_of(const FileAt& file) const
{
    struct stat st = {};
    if (::fstatat(file.folder, file.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return std::nullopt;
    return FileIdentity{st.st_dev, st.st_ino, st.st_size, st.st_mtim};
}

SeedFileText& SeedFileRecorder::text(OtpAlgorithm algorithm)
{
    Cached& cached = m_cache[index(algorithm)];
    const FileAt xml = xml_file(algorithm);
    const auto now = identity_of(xml);
    const bool unchanged = cached.text && cached.text->usable() &&
                           cached.present == now.has_value() && (!now || cached.identity == *now);
    if (!unchanged) {
        cached.text = std::make_unique<SeedFileText>(load_seed_text(algorithm, xml));
        cached.present = now.has_value();
        cached.identity = now.value_or(FileIdentity{});
    }
    return *cached.text;
}

OpResult<void> SeedFileRecorder::check(const TokenDescription& token)
{
    if (auto folder = open_folders(); !folder)
        return std::unexpected(folder.error());
    if (auto fields = check_csv_fields(token); !fields)
        return m_csvWayOut.empty()
                   ? fields
                   : fail(Fault::Refused, fields.error().detail + " " + m_csvWayOut);
    const FileAt xmlFile = xml_file(token.algorithm);
    const std::filesystem::path& xml = xmlFile.shown;
    if (auto csv =
            check_private_file(m_open->file(seed_csv_path(xmlFile.name), seed_csv_path(xml)));
        !csv)
        return csv;
    if (auto safe = check_private_file(xmlFile); !safe)
        return safe;
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
    if (auto folder = open_folders(); !folder) {
        for (RecordOutcome& outcome : outcomes)
            outcome.failure = folder.error();
        return outcomes;
    }
    const FileAt xmlFile = xml_file(token.algorithm);

    SeedFileText& current = text(token.algorithm);
    Cached& cached = m_cache[index(token.algorithm)];
    if (!current.usable()) {
        outcomes[0].failure = failure_at(xmlPath, OpError{Fault::Io, 0, current.unusableReason});
    } else {
        const auto written = replace_private_file(xmlFile, current.append(token));
        if (!written) {
            outcomes[0].failure = failure_at(xmlPath, written.error());
            cached.text.reset(); // it holds a token the file does not
        } else {
            if (const auto now = identity_of(xmlFile)) {
                cached.identity = *now;
                cached.present = true;
            }
        }
    }
    const FileAt csv = m_open->file(seed_csv_path(xmlFile.name), outcomes[1].destination);
    if (auto written = write_seed_csv(csv, token); !written)
        outcomes[1].failure = failure_at(outcomes[1].destination, written.error());
    return outcomes;
}

} // namespace otp::records
