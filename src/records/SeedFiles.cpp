#include "records/SeedFiles.h"

#include "core/Codecs.h"
#include "core/Secret.h"
#include "core/SecretFile.h"

#include <fmt/format.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace otp::core;

namespace otp::records {

namespace {

// What an authentication server expects in a file that does not exist yet.
constexpr const char* kHotpTemplate =
    "<?xml version=\"1.0\"?> <data><header><manufacturerCode>HV</manufacturerCode>"
    "<productCode>PM</productCode><encode>HEX</encode><encrypt>NONE</encrypt></header>"
    "<tokens></tokens></data>";
constexpr const char* kTotpTemplate =
    "<?xml version=\"1.0\"?> <data><header><manufacturerCode>HV</manufacturerCode>"
    "<productCode>PW</productCode><encode>HEX</encode><timeWindow>30</timeWindow>"
    "<encrypt>NONE</encrypt></header><tokens></tokens></data>";

constexpr const char* kTokensPath = "data/tokens";

// Seed files of many thousand tokens stay far below this.
constexpr std::size_t kSeedFileLimit = 256u << 20;

struct StringWriter final : pugi::xml_writer
{
    std::string out;
    void write(const void* data, size_t size) override
    {
        out.append(static_cast<const char*>(data), size);
    }
};

// XML forbids a NUL character reference, but pugixml takes it and cuts the
// text there, so writing the file back would lose what followed it. The
// offset of the first one, or npos.
std::size_t nul_reference(std::string_view bytes)
{
    for (std::size_t at = bytes.find("&#"); at != std::string_view::npos;
         at = bytes.find("&#", at + 2)) {
        std::size_t i = at + 2;
        if (i < bytes.size() && (bytes[i] == 'x' || bytes[i] == 'X'))
            ++i;
        const std::size_t zeros = i;
        while (i < bytes.size() && bytes[i] == '0')
            ++i;
        if (i > zeros && i < bytes.size() && bytes[i] == ';')
            return at;
    }
    return std::string_view::npos;
}

// pugixml keeps a parsed seed file, every seed in it, in blocks of its own:
// each is wiped before it goes back to the heap. Blocks taken before this is
// installed are plain malloc blocks too, so the order of start-up is free.
void* allocate_xml(std::size_t size)
{
    return std::malloc(size);
}

void free_xml(void* block)
{
    if (block)
        wipe(block, malloc_usable_size(block));
    std::free(block);
}

[[maybe_unused]] const bool kXmlMemoryWiped =
    (pugi::set_memory_management_functions(allocate_xml, free_xml), true);

// The bytes of a seed file, wiped when they go away.
struct WipedBytes
{
    std::string bytes;
    ~WipedBytes() { wipe(bytes.data(), bytes.capacity()); }
};

} // namespace

std::filesystem::path seed_xml_path(OtpAlgorithm algorithm, const std::filesystem::path& folder)
{
    return folder / (algorithm == OtpAlgorithm::Hotp ? "hseeds.xml" : "tseeds.xml");
}

std::filesystem::path seed_csv_path(const std::filesystem::path& xmlPath)
{
    std::filesystem::path path = xmlPath;
    return path.replace_extension(".csv");
}

SeedDocument parse_seed_document(OtpAlgorithm algorithm, std::string_view bytes)
{
    SeedDocument document;
    if (bytes.empty()) {
        document.xml.load_string(algorithm == OtpAlgorithm::Hotp ? kHotpTemplate : kTotpTemplate);
        document.fromTemplate = true;
        return document;
    }
    const pugi::xml_parse_result parsed = document.xml.load_buffer(
        bytes.data(), bytes.size(), pugi::parse_default, pugi::encoding_auto);
    const std::size_t nul = nul_reference(bytes);
    if (!parsed)
        document.unusableReason =
            fmt::format("cannot be parsed ({} at byte {})", parsed.description(), parsed.offset);
    else if (nul != std::string_view::npos)
        document.unusableReason =
            fmt::format("cannot be parsed (a NUL character reference at byte {})", nul);
    else if (!document.xml.first_element_by_path(kTokensPath))
        document.unusableReason = "has no data/tokens element";
    return document;
}

OpResult<std::string> read_seed_xml(OtpAlgorithm algorithm, const std::filesystem::path& folder)
{
    return read_seed_xml(seed_xml_path(algorithm, folder));
}

OpResult<std::string> read_seed_xml(const FileAt& xml)
{
    auto bytes = read_private_file(xml, kSeedFileLimit);
    if (!bytes)
        return std::unexpected(bytes.error());
    return std::move(*bytes).value_or(std::string());
}

SeedDocument load_seed_document(OtpAlgorithm algorithm, const std::filesystem::path& folder)
{
    auto bytes = read_seed_xml(algorithm, folder);
    if (!bytes) {
        SeedDocument document;
        document.unusableReason = bytes.error().detail;
        document.unreadable = true;
        return document;
    }
    const WipedBytes read{std::move(*bytes)};
    return parse_seed_document(algorithm, read.bytes);
}

std::string seed_document_bytes(const SeedDocument& document)
{
    StringWriter writer;
    document.xml.save(writer, "\t", pugi::format_indent, pugi::encoding_auto);
    return std::move(writer.out);
}

pugi::xml_node append_token_element(pugi::xml_node tokens, const TokenDescription& token)
{
    pugi::xml_node node = tokens.append_child("token");
    node.append_child("crypto").text().set(token.hash == OtpHash::Sha1 ? "HmacSHA1" : "HmacSHA256");
    if (!token.user.empty())
        node.append_child("name").text().set(token.user.c_str());
    node.append_child("digits").text().set(token.digits);
    node.append_child("serial").text().set(token.serial.c_str());
    const WipedBytes seed{to_hex_upper(token.seed.view())};
    node.append_child("seed").text().set(seed.bytes.c_str());
    return node;
}

std::string append_seed_token(SeedDocument& document, const TokenDescription& token)
{
    append_token_element(document.xml.first_element_by_path(kTokensPath), token);
    return seed_document_bytes(document);
}

std::string seed_csv_header(OtpAlgorithm algorithm)
{
    return utf8_to_utf16le(algorithm == OtpAlgorithm::Hotp
                               ? "Serial Number, Secret Key\r\n"
                               : "UPN, Serial Number, Secret Key, Time Interval, "
                                 "Manufacturer, Model\r\n");
}

std::string seed_csv_row(const TokenDescription& token)
{
    // Fields are not quoted: the CSV recorder refuses serial numbers and user
    // names that would need it.
    WipedBytes seed{token.algorithm == OtpAlgorithm::Totp ? base32_encode(token.seed.view())
                                                          : to_hex_lower(token.seed.view())};
    WipedBytes row;
    row.bytes.reserve(token.user.size() + token.serial.size() + seed.bytes.size() + 64);
    if (token.algorithm == OtpAlgorithm::Totp)
        row.bytes.append(token.user)
            .append(",")
            .append(token.serial)
            .append(",")
            .append(seed.bytes)
            .append(",")
            .append(std::to_string(token.interval))
            .append(",Halvorn Security,Vornik\r\n");
    else
        row.bytes.append(token.serial).append(",").append(seed.bytes).append("\r\n");
    return utf8_to_utf16le(row.bytes);
}

OpResult<void> write_seed_csv(const FileAt& csv, const TokenDescription& token)
{
    auto file = open_private_for_append(csv);
    if (!file)
        return std::unexpected(file.error());
    const int fd = file->fd.get();
    const off_t length = ::lseek(fd, 0, SEEK_END);
    if (length < 0) {
        std::fputs("Terminal failure: Unable to set file pointer to end-of-file.\n", stdout);
        std::fflush(stdout);
        return fail(Fault::Io, "the end of the file cannot be reached");
    }
    const WipedBytes bytes{(file->created ? seed_csv_header(token.algorithm) : std::string()) +
                           seed_csv_row(token)};
    // The row reaches the disk before the token is reported recorded, as the
    // XML file does: a crash right after must not lose it.
    if (write_all(fd, bytes.bytes) && ::fsync(fd) == 0)
        return {};

    std::string reason = std::strerror(errno);
    // Half a UTF-16 row would shift every later row by a byte or glue it to
    // this one. Only cut when something was written: at a file size limit a
    // truncation to the old length could itself fail.
    struct stat st = {};
    if (::fstat(fd, &st) == 0 && st.st_size != length && ::ftruncate(fd, length) != 0)
        reason += fmt::format("; the partial row could not be removed ({})", std::strerror(errno));
    // A file this append created goes again, or the next append would find it
    // and leave out the header.
    if (file->created)
        remove_file(csv);
    return fail(Fault::Io, reason);
}

} // namespace otp::records
