#include "cli/CliContext.h"

#include "cli/ExitCode.h"
#include "pin/PinAccess.h"

#include <ostream>

namespace {

std::string trimmed(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

} // namespace

int CliContext::fail(const OpError& error)
{
    return fail(exit_code_for(error.fault), trimmed(error.detail));
}

int CliContext::fail(const OpError& error, const std::string& doing)
{
    return fail(exit_code_for(error.fault), doing + ": " + trimmed(error.detail));
}

int CliContext::fail(int code, const std::string& message)
{
    err << "vnotp-cli: " << message << '\n';
    exitCode = code;
    return code;
}

void CliContext::touchPrompt() const
{
    err << "Please touch the key..." << std::endl;
}

OpResult<Password> CliContext::access(KeySession& key)
{
    if (!m_pins)
        m_pins = std::make_unique<PinSource>(pinFile, pinStdin, err);
    // Without a PIN in hand the key is not asked at all: checking an empty
    // one would spend a retry.
    auto access = query_pin(key, std::string(), [&]() -> OpResult<std::string> {
        auto pin = m_pins->read();
        if (!pin)
            return std::unexpected(pin.error());
        return std::string(pin->text());
    });
    if (!access)
        return std::unexpected(access.error());
    Password kept(*access);
    wipe(access->data(), access->capacity());
    return kept;
}
