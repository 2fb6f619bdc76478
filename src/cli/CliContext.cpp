#include "cli/CliContext.h"

#include "cli/ExitCode.h"
#include "pin/PinAccess.h"

#include <ostream>

using namespace otp::core;
using namespace otp::device;
using namespace otp::pin;

namespace otp::cli {

namespace {

std::string trimmed(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// The refusals of the rooms below are worded for both front ends; here they
// gain the option that changes the answer.
std::string with_option(const std::string& detail)
{
    static const std::pair<std::string_view, std::string_view> kHints[] = {
        {"already has a line in the pam_oath users file", " (--oath-users-replace replaces it)"},
        {"already holds key ", " (--serial gives another serial number)"},
    };
    for (const auto& [refusal, option] : kHints)
        if (detail.find(refusal) != std::string::npos)
            return detail + std::string(option);
    return detail;
}

} // namespace

int CliContext::fail(const OpError& error)
{
    return fail(exit_code_for(error.fault), with_option(trimmed(error.detail)));
}

int CliContext::fail(const OpError& error, const std::string& doing)
{
    return fail(exit_code_for(error.fault), doing + ": " + with_option(trimmed(error.detail)));
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

} // namespace otp::cli
