#pragma once

// Where the command line takes the PIN from when the key wants one: the first
// line of a file, the first line of standard input, or the terminal without
// echo. Never an option value. Read once per run and kept for every key.

#include "core/Error.h"
#include "core/Secret.h"

#include <iosfwd>
#include <optional>
#include <string>

namespace otp::cli {

class PinSource
{
public:
    PinSource(std::string pinFile, bool fromStdin, std::ostream& err)
        : m_pinFile(std::move(pinFile)), m_fromStdin(fromStdin), m_err(err)
    {
    }

    // The PIN. A Pin fault when there is nowhere to read it from, or what
    // was read holds none (an empty file or line, a folder, an unreadable
    // file): the key is then not asked at all, since an empty PIN would
    // cost one of its retries.
    core::OpResult<core::Password> read();

private:
    std::string m_pinFile;
    bool m_fromStdin = false;
    std::ostream& m_err;
    std::optional<core::Password> m_pin;
};

} // namespace otp::cli
