#include "core/TokenDescription.h"

#include <algorithm>
#include <cctype>

namespace otp::core {

namespace {

std::string lower(std::string_view text)
{
    std::string out(text);
    std::ranges::transform(out, out.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

} // namespace

std::size_t seed_length(OtpHash hash)
{
    return hash == OtpHash::Sha1 ? 20 : 32;
}

std::string_view algorithm_name(OtpAlgorithm algorithm)
{
    return algorithm == OtpAlgorithm::Hotp ? "HOTP" : "TOTP";
}

std::string_view hash_name(OtpHash hash)
{
    return hash == OtpHash::Sha1 ? "SHA-1" : "SHA-256";
}

std::optional<OtpAlgorithm> parse_algorithm(std::string_view text)
{
    const std::string name = lower(text);
    if (name == "hotp")
        return OtpAlgorithm::Hotp;
    if (name == "totp")
        return OtpAlgorithm::Totp;
    return std::nullopt;
}

std::optional<OtpHash> parse_hash(std::string_view text)
{
    const std::string name = lower(text);
    if (name == "sha1" || name == "sha-1")
        return OtpHash::Sha1;
    if (name == "sha256" || name == "sha-256")
        return OtpHash::Sha256;
    return std::nullopt;
}

} // namespace otp::core
