#include "cli/Terminal.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <fcntl.h>
#include <iostream>
#include <string>
#include <termios.h>
#include <unistd.h>

using namespace otp::core;

namespace otp::cli {

namespace {

// Restores the terminal's settings however the prompt ends.
class EchoOff
{
public:
    explicit EchoOff(int fd) : m_fd(fd), m_ok(::tcgetattr(fd, &m_saved) == 0)
    {
        if (!m_ok)
            return;
        termios quiet = m_saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL);
        quiet.c_lflag |= ICANON;
        ::tcsetattr(m_fd, TCSAFLUSH, &quiet);
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;
    ~EchoOff()
    {
        if (m_ok)
            ::tcsetattr(m_fd, TCSAFLUSH, &m_saved);
    }
    bool ok() const { return m_ok; }

private:
    int m_fd;
    termios m_saved{};
    bool m_ok;
};

// The controlling terminal, closed again when it was opened here.
class Tty
{
public:
    explicit Tty(int given)
        : m_fd(given >= 0 ? given : ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC)),
          m_owned(given < 0)
    {
    }
    Tty(const Tty&) = delete;
    Tty& operator=(const Tty&) = delete;
    ~Tty()
    {
        if (m_owned && m_fd >= 0)
            ::close(m_fd);
    }
    int fd() const { return m_fd; }

private:
    int m_fd;
    bool m_owned;
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

OpResult<Password> read_secret_line(std::string_view prompt, int terminal)
{
    const Tty tty(terminal);
    if (tty.fd() < 0)
        return fail(Fault::Refused, "there is no terminal to ask on");
    std::string line;
    // Room for any sensible secret, so that no copy is left behind in a
    // reallocated buffer.
    line.reserve(1024);
    bool ended = false;
    bool tooLong = false;
    {
        const EchoOff quiet(tty.fd());
        if (!quiet.ok())
            return fail(Fault::Refused, "there is no terminal to ask on");
        write_text(tty.fd(), prompt);
        char c = 0;
        for (;;) {
            const ssize_t count = ::read(tty.fd(), &c, 1);
            if (count < 0 && errno == EINTR)
                continue;
            if (count <= 0)
                break;
            if (c == '\n') {
                ended = true;
                break;
            }
            // Beyond the room reserved a copy would be left behind.
            if (line.size() < line.capacity())
                line.push_back(c);
            else
                tooLong = true;
        }
        wipe(&c, 1);
        // The user's Enter was not echoed.
        write_text(tty.fd(), "\n");
    }
    if (tooLong) {
        wipe(line.data(), line.capacity());
        return fail(Fault::Refused, "the line typed is longer than this tool takes");
    }
    if (line.ends_with('\r'))
        line.pop_back();
    Password secret(line);
    wipe(line.data(), line.capacity());
    if (!ended && secret.empty())
        return fail(Fault::Cancelled, "nothing was entered");
    return secret;
}

bool at_terminal()
{
    return ::isatty(STDIN_FILENO) == 1;
}

bool ask_yes_no(std::string_view question, std::ostream& err)
{
    err << question << " [y/N] " << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer))
        return false;
    std::ranges::transform(answer, answer.begin(), [](unsigned char c) { return std::tolower(c); });
    answer.erase(answer.find_last_not_of(" \t\r") + 1);
    return answer == "y" || answer == "yes";
}

} // namespace otp::cli
