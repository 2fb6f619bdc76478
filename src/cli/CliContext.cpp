#include "cli/CliContext.h"

#include "cli/ExitCode.h"
#include "pin/PinAccess.h"

#include <ostream>

int CliContext::fail(const OpError& error)
{
    return fail(exit_code_for(error.fault), error.message.trimmed().toStdString());
}

int CliContext::fail(const OpError& error, const std::string& doing)
{
    return fail(exit_code_for(error.fault), doing + ": " + error.message.trimmed().toStdString());
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

OpResult<std::string> CliContext::access()
{
    if (!m_pins)
        m_pins = std::make_unique<PinSource>(pinFile, pinStdin);
    bool missing = false;
    auto access = access_for_operation(device, std::string(), [&] {
        auto pin = m_pins->read();
        missing = !pin;
        return pin.value_or(std::string());
    });
    if (!access && missing)
        return std::unexpected(OpError{Fault::Pin, 0, QString::fromStdString(m_pins->missing())});
    return access;
}
