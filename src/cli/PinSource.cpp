#include "cli/PinSource.h"

#include "cli/SecretInput.h"
#include "cli/Terminal.h"

#include <unistd.h>

using namespace otp::core;

namespace otp::cli {

OpResult<Password> PinSource::read()
{
    if (m_pin)
        return *m_pin;
    OpResult<Password> pin;
    std::string from;
    if (!m_pinFile.empty()) {
        from = "the PIN file " + m_pinFile;
        pin = read_secret_first_line(m_pinFile);
        if (pin)
            warn_if_others_can_read(m_pinFile, m_err);
    } else if (m_fromStdin) {
        from = "standard input";
        pin = read_secret_first_line("-");
    } else if (isatty(STDIN_FILENO)) {
        from = "the terminal";
        pin = read_secret_line("PIN: ");
    } else {
        return fail(Fault::Pin, "the key has a PIN: give it with --pin-file FILE or --pin-stdin");
    }
    if (!pin)
        return fail(Fault::Pin, "the PIN cannot be read: " + pin.error().detail);
    if (pin->empty())
        return fail(Fault::Pin, from + " holds no PIN; the key was not asked");
    m_pin = *pin;
    return pin;
}

} // namespace otp::cli
