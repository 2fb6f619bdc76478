#pragma once

// What every vnotp-cli command works with: the device library, the two output
// streams (results to standard output, prompts and progress to standard
// error), the PIN source and the exit code the run ends with.

#include "cli/PinSource.h"
#include "core/Error.h"
#include "device/KeySession.h"

#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

namespace otp::cli {

struct CliContext
{
    CliContext(device::DeviceApi& device, std::ostream& out, std::ostream& err)
        : device(device), out(out), err(err)
    {
    }

    device::DeviceApi& device;
    std::ostream& out;
    std::ostream& err;
    // The command line as given, without the program: a batch that stops
    // early prints the command that finishes it.
    std::vector<std::string> arguments;
    std::string pinFile;
    bool pinStdin = false;
    bool verbose = false; // diagnostics on standard error
    // True once the user pressed Ctrl-C; the batch run looks between keys.
    std::function<bool()> interrupted = [] { return false; };
    int exitCode = 0;

    // Reports the failure on standard error, sets and returns its exit code.
    int fail(const core::OpError& error);
    // The same, with what was being done in front: "Failed to get OTP: 0x800A6984".
    int fail(const core::OpError& error, const std::string& doing);
    int fail(int exitCode, const std::string& message);

    // Shown before every call that waits for the key's touch.
    void touchPrompt() const;

    // The access text for the key's protected calls: empty when the key has
    // no PIN, otherwise the PIN from the PIN source, checked by the key first.
    core::OpResult<core::Password> access(device::KeySession& key);

private:
    std::unique_ptr<PinSource> m_pins;
};

} // namespace otp::cli
