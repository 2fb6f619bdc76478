#include "export/Credentials.h"

#include "export/SecretFile.h"
#include "export/TextCodecs.h"

#include <fmt/format.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace pskc {
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

Error invalid(const std::filesystem::path& path, std::string_view what)
{
    return {ErrorKind::InvalidInput, fmt::format("{}: {}", path.string(), what)};
}

// Restores the terminal's settings however the prompt ends.
class EchoOff
{
public:
    EchoOff(int fd, const termios& saved) : m_fd(fd), m_saved(saved) {}
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;
    ~EchoOff() { ::tcsetattr(m_fd, TCSAFLUSH, &m_saved); }

private:
    int m_fd;
    termios m_saved;
};

void write_text(int fd, std::string_view text)
{
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        text.remove_prefix(static_cast<std::size_t>(written));
    }
}

} // namespace

std::expected<Password, Error> read_password_file(const std::filesystem::path& path)
{
    auto bytes = read_file(path, kCredentialFileLimit);
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

std::expected<PresharedKey, Error> read_key_file(const std::filesystem::path& path)
{
    auto bytes = read_file(path, kCredentialFileLimit);
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
    return PresharedKey{std::move(*key), path.filename().string()};
}

std::expected<Password, Error> prompt_password(std::string_view prompt, int terminal)
{
    int fd = terminal;
    if (fd < 0)
        fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios saved{};
    if (fd < 0 || ::tcgetattr(fd, &saved) != 0) {
        if (fd >= 0 && terminal < 0)
            ::close(fd);
        return std::unexpected(Error{ErrorKind::InvalidInput,
                                     "there is no terminal to ask for the password on; give a "
                                     "password file instead"});
    }
    std::string line;
    // Room for any sensible password, so that no copy is left behind in a
    // reallocated buffer.
    line.reserve(1024);
    bool ended = false;
    {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL);
        quiet.c_lflag |= ICANON;
        const EchoOff restore(fd, saved);
        ::tcsetattr(fd, TCSAFLUSH, &quiet);
        write_text(fd, prompt);
        char c = 0;
        for (;;) {
            const ssize_t count = ::read(fd, &c, 1);
            if (count < 0 && errno == EINTR)
                continue;
            if (count <= 0)
                break;
            if (c == '\n') {
                ended = true;
                break;
            }
            line.push_back(c);
        }
        wipe(&c, 1);
        // The user's Enter was not echoed.
        write_text(fd, "\n");
    }
    if (terminal < 0)
        ::close(fd);
    if (line.ends_with('\r'))
        line.pop_back();
    Password password(line);
    wipe(line.data(), line.size());
    if (!ended && password.empty())
        return std::unexpected(Error{ErrorKind::Cancelled, "no password was entered"});
    if (password.empty())
        return std::unexpected(Error{ErrorKind::InvalidInput, "the password is empty"});
    return password;
}

} // namespace pskc
