#include "cli/PinSource.h"

#include "cli/Terminal.h"

#include <unistd.h>

#include <fstream>
#include <iostream>

namespace {

std::string first_line(std::istream& in)
{
    std::string line;
    std::getline(in, line);
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

std::optional<std::string> ask_terminal()
{
    auto pin = read_secret_line("PIN: ");
    return pin ? std::optional<std::string>(std::string(pin->text())) : std::nullopt;
}

} // namespace

std::optional<std::string> PinSource::read()
{
    if (m_pin)
        return m_pin;
    if (!m_pinFile.empty()) {
        std::ifstream file(m_pinFile);
        if (!file) {
            m_missing = "cannot read the PIN file " + m_pinFile;
            return std::nullopt;
        }
        m_pin = first_line(file);
    } else if (m_fromStdin) {
        m_pin = first_line(std::cin);
    } else if (isatty(STDIN_FILENO)) {
        m_pin = ask_terminal();
    } else {
        m_missing = "the key has a PIN: give it with --pin-file FILE or --pin-stdin";
        return std::nullopt;
    }
    return m_pin;
}
