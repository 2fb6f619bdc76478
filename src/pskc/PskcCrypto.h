#pragma once

// The cryptography of a PSKC container, every primitive from OpenSSL: PBKDF2,
// AES-CBC with the IV in front of the cipher text (XML Encryption's
// CipherValue), HMAC, random bytes, base64; and the algorithm URIs that name
// them in the XML.

#include "core/Error.h"
#include "core/Secret.h"

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace otp::pskc {

enum class CipherAlgorithm { Aes128Cbc, Aes192Cbc, Aes256Cbc };
enum class MacAlgorithm { HmacSha1, HmacSha224, HmacSha256, HmacSha384, HmacSha512 };

inline constexpr std::string_view kPbkdf2Uri =
    "http://www.rsasecurity.com/rsalabs/pkcs/schemas/pkcs-5v2-0#pbkdf2";

std::size_t key_length(CipherAlgorithm cipher);
std::string_view uri(CipherAlgorithm cipher);
std::string_view uri(MacAlgorithm mac);
std::size_t digest_length(MacAlgorithm mac);
// As people write them: "AES-128-CBC", "HMAC-SHA1".
std::string label(CipherAlgorithm cipher);
std::string label(MacAlgorithm mac);
// Algorithms are recognised by the name after '#', as peers spell the
// namespace part in more than one way.
std::optional<CipherAlgorithm> cipher_from_uri(std::string_view uri);
std::optional<MacAlgorithm> mac_from_uri(std::string_view uri);
std::optional<CipherAlgorithm> cipher_for_key_length(std::size_t length);

core::OpResult<core::SecretBytes> random_bytes(std::size_t count);

core::OpResult<core::SecretBytes> pbkdf2(const core::Password& password,
                                         std::span<const uint8_t> salt, int iterations,
                                         MacAlgorithm prf, std::size_t length);

// A fresh random IV followed by the PKCS#7-padded cipher text.
core::OpResult<std::vector<uint8_t>> encrypt(CipherAlgorithm cipher, const core::SecretBytes& key,
                                             std::span<const uint8_t> plain);
// Nothing when the value is too short or its padding is wrong, which is what
// a wrong key looks like.
std::optional<core::SecretBytes> decrypt(CipherAlgorithm cipher, const core::SecretBytes& key,
                                         std::span<const uint8_t> ivAndCipherText);

core::OpResult<std::vector<uint8_t>> hmac(MacAlgorithm mac, const core::SecretBytes& key,
                                          std::span<const uint8_t> data);
bool equal_in_constant_time(std::span<const uint8_t> a, std::span<const uint8_t> b);

// An XML document's base64 value (core::base64_decode); white space inside
// it is ignored, as values are often wrapped.
std::optional<std::vector<uint8_t>> xml_base64_decode(std::string_view text);

} // namespace otp::pskc
