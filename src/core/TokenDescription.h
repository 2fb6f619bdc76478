#pragma once

// One OTP token as the program describes it everywhere: what the New Token
// dialog and the command line ask for, what the key is programmed with, and
// what every record of its seed holds.

#include "core/Secret.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace otp::core {

enum class OtpAlgorithm { Hotp, Totp };
enum class OtpHash { Sha1, Sha256 };

struct TokenDescription
{
    OtpAlgorithm algorithm = OtpAlgorithm::Totp;
    OtpHash hash = OtpHash::Sha1;
    int digits = 6;
    int interval = 30;  // seconds; HOTP tokens carry it too, the key ignores it for them
    std::string serial; // as programmed: the key's 8-bit text (UTF-8 here)
    SecretBytes seed;   // exactly the bytes programmed (20 or 32)
    std::string user;   // UTF-8; empty when no user name was given
};

// The seed length the key takes for a hash: 20 bytes for SHA-1, 32 for SHA-256.
std::size_t seed_length(OtpHash hash);

// "HOTP", "TOTP"; "SHA-1", "SHA-256": the one spelling of each choice in
// every listing and document.
std::string_view algorithm_name(OtpAlgorithm algorithm);
std::string_view hash_name(OtpHash hash);

// What a user may type for a choice, in any case: "hotp", "totp"; "sha1",
// "sha-1", "sha256", "sha-256". Nothing for anything else.
std::optional<OtpAlgorithm> parse_algorithm(std::string_view text);
std::optional<OtpHash> parse_hash(std::string_view text);

} // namespace otp::core
