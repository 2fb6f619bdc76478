#pragma once

// The exit codes of vnotp-cli; scripts branch on them, so they never change.

#include "core/Error.h"

namespace otp::cli {

namespace ExitCode {
inline constexpr int Success = 0;
inline constexpr int Usage = 2;         // a usage error or a refusal of the input
inline constexpr int NoSingleKey = 3;   // no key, or more than one key, plugged in
inline constexpr int KeyFailed = 4;     // the key refused or failed
inline constexpr int SeedFile = 5;      // programmed, but a seed or PSKC file could not be written
inline constexpr int Pin = 6;           // PIN missing or wrong
inline constexpr int Interrupted = 130; // batch: Ctrl-C before all keys were programmed
} // namespace ExitCode

// The table the main --help and the manual page's EXIT STATUS show.
inline constexpr const char* kExitCodeHelp =
    "Exit codes:\n"
    "  0   success\n"
    "  2   usage error, or the input was refused (bad seed, serial too long, a user\n"
    "      name the records cannot hold, a PSKC file that does not parse, decrypt\n"
    "      or verify, reset or remove without --yes and without a terminal, or an\n"
    "      answer other than y at their prompt, ...)\n"
    "  3   no key, or more than one key, plugged in\n"
    "  4   the key refused or failed (its status is printed as 0x%08X), or\n"
    "      --verify found a different OTP\n"
    "  5   the token was programmed but a seed or PSKC file could not be written\n"
    "      (serial number and seed are then printed on standard error);\n"
    "      pskc convert: the PSKC file could not be written (the sources are kept)\n"
    "  6   PIN missing or wrong\n"
    "  130 batch interrupted by Ctrl-C between keys\n"
    "A batch exits with the code of its first failure, even when Ctrl-C ends it later.";

// Anything refused before the key was touched is a usage error, whatever
// the file or container said; what the key did is its own code.
inline int exit_code_for(core::Fault fault)
{
    switch (fault) {
    case core::Fault::NoKey:
    case core::Fault::MultipleKeys:
        return ExitCode::NoSingleKey;
    case core::Fault::KeyUnreadable:
    case core::Fault::Device:
    case core::Fault::TimedOut:
    case core::Fault::Mismatch:
        return ExitCode::KeyFailed;
    case core::Fault::Pin:
        return ExitCode::Pin;
    case core::Fault::Unrecorded:
        return ExitCode::SeedFile;
    case core::Fault::StaleList:
    case core::Fault::Refused:
    case core::Fault::Cancelled:
    case core::Fault::Io:
    case core::Fault::NotPskc:
    case core::Fault::Unsupported:
    case core::Fault::WrongPassword:
    case core::Fault::WrongKey:
    case core::Fault::WrongProtection:
    case core::Fault::Tampered:
    case core::Fault::Conflict:
    case core::Fault::UnknownDigits:
    case core::Fault::Crypto:
        break;
    }
    return ExitCode::Usage;
}

} // namespace otp::cli
