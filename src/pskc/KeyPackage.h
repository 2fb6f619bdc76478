#pragma once

// One OTP token as a PSKC key package (RFC 6030): what the tool writes for a
// programmed token and what it reads back from any container.

#include "core/Secret.h"
#include "core/TokenDescription.h"

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace otp::pskc {

inline constexpr std::string_view kManufacturer = "Halvorn Security";
inline constexpr std::string_view kModel = "Vornik";
inline constexpr std::string_view kHotpAlgorithm = "urn:ietf:params:xml:ns:keyprov:pskc:hotp";
inline constexpr std::string_view kTotpAlgorithm = "urn:ietf:params:xml:ns:keyprov:pskc:totp";
// The Suite of a token names its hash as importers expect it; the reader
// also takes "HMAC-SHA256", what older files of this tool say, and a key
// package without Suite is SHA-1.
inline constexpr std::string_view suite_of(core::OtpHash hash)
{
    return hash == core::OtpHash::Sha256 ? "sha256" : "sha1";
}

struct KeyPackage
{
    // The token's serial number: the Key Id and DeviceInfo/SerialNo, which
    // importers take as the token's identity.
    std::string keyId;
    core::OtpAlgorithm algorithm = core::OtpAlgorithm::Hotp;
    core::OtpHash hash = core::OtpHash::Sha1;
    std::optional<int> digits;       // ResponseFormat Length
    std::optional<uint64_t> counter; // HOTP moving factor
    std::optional<int> interval;     // TOTP time step in seconds
    std::string userId;              // empty when no user name was given
    // The serial number of the key that holds the token, empty when unknown:
    // DeviceInfo/DeviceBinding, the device the token is loaded into. Older
    // files of this tool have it in DeviceInfo/SerialNo.
    std::string deviceSerial;
    // Key/Policy/ExpiryDate (xs:dateTime): from then on the token is retired,
    // a server must not accept it; empty when it never expires.
    std::string expiryDate;
    std::string manufacturer{kManufacturer};
    std::string model{kModel};
    core::SecretBytes secret;

    friend bool operator==(const KeyPackage&, const KeyPackage&) = default;
};

// Whether the token's expiry date has come by `now`. A date that does not
// read as one counts as come: a token is never taken for active by mistake.
bool is_retired(const KeyPackage& package, std::time_t now);
// `now` as the xs:dateTime an expiry date is written with, in UTC.
std::string expiry_date_text(std::time_t now);

// A token as programmed into the key: manufacturer and model of this tool's
// key, Counter 0 for HOTP and the interval for TOTP only.
KeyPackage make_key_package(const core::TokenDescription& token, std::string deviceSerial = {});

} // namespace otp::pskc
