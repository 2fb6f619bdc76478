#pragma once

// Where the command line takes the PIN from when the key wants one: the first
// line of a file, the first line of standard input, or the terminal without
// echo. Never an option value. Read once per run and kept for every key.

#include <optional>
#include <string>

class PinSource
{
public:
    PinSource(std::string pinFile, bool fromStdin)
        : m_pinFile(std::move(pinFile)), m_fromStdin(fromStdin)
    {
    }

    // The PIN, or nullopt when there is nowhere to read it from (or reading
    // failed); `missing()` then says why.
    std::optional<std::string> read();
    const std::string& missing() const { return m_missing; }

private:
    std::string m_pinFile;
    bool m_fromStdin = false;
    std::optional<std::string> m_pin;
    std::string m_missing;
};
