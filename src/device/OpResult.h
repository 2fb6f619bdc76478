#pragma once

// The one error vocabulary of the core operations. Both front ends decide what
// to show, and the command line which exit code to return, from the fault
// alone; the message is the text the user reads.

#include <QString>

#include <cstdint>
#include <expected>

enum class Fault {
    NoKey,         // no key is plugged in
    MultipleKeys,  // more than one key is plugged in
    KeyUnreadable, // the key answered the listing but not the question for its identity
    Device,        // the key refused or failed the call; `status` says how
    Refused,       // the input was refused before the key saw it
    Pin,           // the PIN is missing or wrong, or could not be checked
    SeedFile,      // the token is on the key but a seed record could not be written
    Mismatch,      // the key computes a different OTP than its seed gives
    StaleList,     // the token named is no longer where the listing showed it
};

struct OpError
{
    Fault fault = Fault::Device;
    uint32_t status = 0; // the device library's status, where one was returned
    QString message;
};

template <class T> using OpResult = std::expected<T, OpError>;

// A device status as the user reads it: "0x%08X". Every text that shows a
// status builds it here.
QString status_hex(uint32_t status);

inline OpError device_fault(uint32_t status)
{
    return OpError{Fault::Device, status, status_hex(status)};
}
