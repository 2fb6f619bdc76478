#include "pskc/Credentials.h"

#include "core/Codecs.h"
#include "core/SecretFile.h"

#include <fmt/format.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

using namespace otp::core;

namespace otp::pskc {
namespace {

// Password and key files are small; anything larger is the wrong file.
constexpr std::size_t kCredentialFileLimit = 4096;

// The file's bytes, wiped when they go away.
class FileText
{
public:
    explicit FileText(std::string text) : m_text(std::move(text)) {}
    FileText(const FileText&) = delete;
    FileText& operator=(const FileText&) = delete;
    ~FileText() { wipe(m_text.data(), m_text.size()); }
    std::string_view view() const { return m_text; }

private:
    std::string m_text;
};

OpError invalid(const std::filesystem::path& path, std::string_view what)
{
    return {Fault::Refused, 0, fmt::format("{}: {}", path.string(), what)};
}

} // namespace

OpResult<Password> read_password_file(const std::filesystem::path& path)
{
    auto bytes = read_trusted_file(path, kCredentialFileLimit);
    if (!bytes)
        return std::unexpected(bytes.error());
    const FileText text(std::move(*bytes));
    std::string_view line = text.view().substr(0, text.view().find('\n'));
    if (line.ends_with('\r'))
        line.remove_suffix(1);
    if (line.empty())
        return std::unexpected(invalid(path, "the first line, the password, is empty"));
    return Password(line);
}

OpResult<PresharedKey> read_key_file(const std::filesystem::path& path)
{
    auto bytes = read_trusted_file(path, kCredentialFileLimit);
    if (!bytes)
        return std::unexpected(bytes.error());
    const FileText text(std::move(*bytes));
    std::string_view digits = text.view();
    const auto first = digits.find_first_not_of(" \t\r\n");
    digits = first == std::string_view::npos
                 ? std::string_view()
                 : digits.substr(first, digits.find_last_not_of(" \t\r\n") - first + 1);
    auto key = hex_decode(digits);
    if (!key)
        return std::unexpected(invalid(path, "a key file holds hexadecimal digits only"));
    if (!cipher_for_key_length(key->size()))
        return std::unexpected(invalid(
            path, fmt::format("holds a {}-byte key; an AES key has 16, 24 or 32 bytes (32, 48 or "
                              "64 hexadecimal digits)",
                              key->size())));
    std::string name = path.filename().string();
    if (!is_valid_utf8(name) ||
        std::ranges::any_of(name, [](unsigned char c) { return c < 0x20 || c == 0x7F; }))
        return std::unexpected(invalid(path, "the file's name becomes the key's name in the PSKC "
                                             "file, which holds UTF-8 text without control "
                                             "characters only; rename the file"));
    return PresharedKey{std::move(*key), std::move(name)};
}

} // namespace otp::pskc
