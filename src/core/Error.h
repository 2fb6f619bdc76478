#pragma once

// The one failure type that crosses the rooms of the program. Each room
// turns its own failures (a device status, a PIN check, a lock, a file, a
// PSKC container) into an OpError where they leave it; each front end words
// its lines, and the command line chooses its exit code, from the fault.
// The detail is complete English text (UTF-8) that names the file, key or
// serial number concerned and never holds a secret.

#include <cstdint>
#include <expected>
#include <string>

namespace otp::core {

enum class Fault {
    // The key.
    NoKey,         // no key is plugged in
    MultipleKeys,  // more than one key is plugged in
    KeyUnreadable, // the key answered the listing but not the question for its identity
    Device,        // the key refused or failed the call; `status` says how
    TimedOut,      // nobody touched the key in time (`status` is the key's answer)
    Mismatch,      // the key computes a different OTP than its seed gives
    StaleList,     // the token named is no longer where the listing showed it
    // The user.
    Pin,       // the PIN is missing or wrong, or could not be checked; `status` is
               // the key's answer when the key itself refused the access code
    Refused,   // the input was refused before anything was written or the key touched
    Cancelled, // the user ended a prompt without an answer
    // Files and containers.
    Io,              // a file cannot be read, created, locked or replaced
    NotPskc,         // not well-formed XML, or not a PSKC key container
    Unsupported,     // a valid container that uses something this tool does not
    WrongPassword,   // the password does not decrypt the container
    WrongKey,        // the pre-shared key does not decrypt the container
    WrongProtection, // a password for a key-protected container, or the reverse
    Tampered,        // an encrypted value or its MAC has been changed
    Conflict,        // one serial number with two different tokens
    UnknownDigits,   // tokens whose number of digits no source names
    Crypto,          // the cryptographic library failed (out of memory, no entropy)
    // After programming.
    Unrecorded, // the key took the token, but a record of its seed could not be written
};

struct OpError
{
    Fault fault = Fault::Device;
    uint32_t status = 0; // the device library's status, where one was returned
    std::string detail;

    // The key answered the call with a failure status: it was reached, and
    // the status tells how it refused.
    bool from_key() const { return status != 0; }

    bool operator==(const OpError&) const = default;
};

template <class T> using OpResult = std::expected<T, OpError>;

inline std::unexpected<OpError> fail(Fault fault, std::string detail, uint32_t status = 0)
{
    return std::unexpected(OpError{fault, status, std::move(detail)});
}

// A device status as the user reads it: "0x%08X". Every text that shows a
// status builds it here.
std::string status_hex(uint32_t status);

// The key refused or failed a call; the detail is the status. KeySession is
// the one place that chooses the fault from the status.
OpError device_fault(uint32_t status, Fault fault = Fault::Device);

} // namespace otp::core
