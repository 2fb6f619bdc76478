// An XML seed file an administrator may have edited, or that another tool
// wrote: loading it either marks it unusable or gives a document to which a
// token is appended; the file written then parses and holds every token it
// held before, unchanged, and the new one last. The recorder, which splices
// the token into the file's bytes where it can, writes those very bytes.

#include "FuzzCheck.h"
#include "records/SeedFileText.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

using namespace otp;
using namespace otp::core;
using namespace otp::records;

namespace {

namespace fs = std::filesystem;

// An empty text node is written as nothing, and one of white space only
// (what is left of "\n\t&#0;x" before its NUL) is dropped by the parser, so
// neither is there when the file is read again.
void dropEmptyText(pugi::xml_node node)
{
    for (pugi::xml_node child = node.first_child(); child;) {
        const pugi::xml_node next = child.next_sibling();
        if (child.type() == pugi::node_pcdata &&
            std::string_view(child.value()).find_first_not_of(" \t\r\n") == std::string_view::npos)
            node.remove_child(child);
        else
            dropEmptyText(child);
        child = next;
    }
}

std::vector<std::string> tokensOf(const pugi::xml_document& xml)
{
    std::vector<std::string> out;
    for (pugi::xml_node token : xml.first_element_by_path("data/tokens").children("token")) {
        pugi::xml_document copy;
        dropEmptyText(copy.append_copy(token));
        std::ostringstream text;
        copy.print(text, "", pugi::format_raw);
        out.push_back(text.str());
    }
    return out;
}

// A folder of its own for the run, removed at its end.
struct Folder
{
    fs::path path = [] {
        std::string pattern = (fs::temp_directory_path() / "fuzz-seed-xml-XXXXXX").string();
        FUZZ_CHECK(::mkdtemp(pattern.data()) != nullptr);
        return fs::path(pattern);
    }();
    ~Folder() { fs::remove_all(path); }
};

} // namespace

// First byte: HOTP or TOTP file; the rest: the file's bytes.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const Folder folder;
    if (size < 1)
        return 0;
    const auto algorithm = data[0] & 1 ? OtpAlgorithm::Hotp : OtpAlgorithm::Totp;
    {
        // A new file each time: ext4 flushes a file truncated and rewritten
        // on close, which would slow the run down a hundredfold.
        const fs::path path = seed_xml_path(algorithm, folder.path);
        fs::remove(path);
        std::ofstream file(path, std::ios::binary);
        FUZZ_CHECK(file.write(reinterpret_cast<const char*>(data + 1),
                              static_cast<std::streamsize>(size - 1))
                       .flush()
                       .good());
        // Owner-only whatever the umask: a file others can write is refused.
        fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
    }

    SeedDocument document = load_seed_document(algorithm, folder.path);
    SeedFileText text = load_seed_text(algorithm, folder.path);
    FUZZ_CHECK(text.unusableReason == document.unusableReason);
    if (!document.usable())
        return 0;
    const std::vector<std::string> before = tokensOf(document.xml);

    TokenDescription token;
    token.algorithm = algorithm;
    token.serial = "VT1234567801";
    token.seed = SecretBytes(std::vector<uint8_t>(20, 0x5A));
    token.user = "\xC3\x85"
                 "dne & <S\xC3\xB8ren>";
    const std::string bytes = append_seed_token(document, token);
    FUZZ_CHECK(text.append(token) == bytes);

    pugi::xml_document written;
    FUZZ_CHECK(written.load_buffer(bytes.data(), bytes.size()));
    std::vector<std::string> after = tokensOf(written);
    FUZZ_CHECK(after.size() == before.size() + 1);
    after.pop_back();
    FUZZ_CHECK(after == before);
    const pugi::xml_node last = written.first_element_by_path("data/tokens").last_child();
    FUZZ_CHECK(std::string(last.child_value("serial")) == token.serial);
    FUZZ_CHECK(std::string(last.child_value("name")) == token.user);
    return 0;
}
