#pragma once

// The typed failure every function of the PSKC export returns. The kind lets
// a front end choose its exit code and wording; the message is complete
// English text that names the file, key or serial number concerned and never
// holds a secret.

#include <string>

namespace pskc {

enum class ErrorKind {
    Io,              // a file cannot be read, created or replaced
    NotPskc,         // not well-formed XML, or not a PSKC key container
    Unsupported,     // a valid container that uses something this tool does not
    WrongPassword,   // the password does not decrypt the container
    WrongKey,        // the pre-shared key does not decrypt the container
    WrongProtection, // a password for a key-protected container, or the reverse
    Tampered,        // an encrypted value or its MAC has been changed
    InvalidInput,    // a seed file, key file or password file that cannot be used
    Conflict,        // one serial number with two different tokens
    UnknownDigits,   // tokens whose number of digits no source names
    Cancelled,       // the password prompt was ended without a password
    Crypto,          // the cryptographic library failed (out of memory, no entropy)
};

struct Error
{
    ErrorKind kind;
    std::string message;
};

} // namespace pskc
