#include "pskc/PskcCrypto.h"

#include "core/Codecs.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <memory>

using namespace otp::core;

namespace otp::pskc {
namespace {

struct CipherInfo
{
    CipherAlgorithm cipher;
    std::string_view name;
    std::string_view uri;
    std::size_t keyLength;
};
constexpr std::array kCiphers = {
    CipherInfo{CipherAlgorithm::Aes128Cbc, "aes128-cbc",
               "http://www.w3.org/2001/04/xmlenc#aes128-cbc", 16},
    CipherInfo{CipherAlgorithm::Aes192Cbc, "aes192-cbc",
               "http://www.w3.org/2001/04/xmlenc#aes192-cbc", 24},
    CipherInfo{CipherAlgorithm::Aes256Cbc, "aes256-cbc",
               "http://www.w3.org/2001/04/xmlenc#aes256-cbc", 32},
};

struct MacInfo
{
    MacAlgorithm mac;
    std::string_view name;
    std::string_view uri;
    const char* digest;
    std::size_t length;
};
constexpr std::array kMacs = {
    MacInfo{MacAlgorithm::HmacSha1, "hmac-sha1", "http://www.w3.org/2000/09/xmldsig#hmac-sha1",
            "SHA1", 20},
    MacInfo{MacAlgorithm::HmacSha224, "hmac-sha224",
            "http://www.w3.org/2001/04/xmldsig-more#hmac-sha224", "SHA224", 28},
    MacInfo{MacAlgorithm::HmacSha256, "hmac-sha256",
            "http://www.w3.org/2001/04/xmldsig-more#hmac-sha256", "SHA256", 32},
    MacInfo{MacAlgorithm::HmacSha384, "hmac-sha384",
            "http://www.w3.org/2001/04/xmldsig-more#hmac-sha384", "SHA384", 48},
    MacInfo{MacAlgorithm::HmacSha512, "hmac-sha512",
            "http://www.w3.org/2001/04/xmldsig-more#hmac-sha512", "SHA512", 64},
};

const CipherInfo& info(CipherAlgorithm cipher)
{
    return *std::ranges::find(kCiphers, cipher, &CipherInfo::cipher);
}

const MacInfo& info(MacAlgorithm mac)
{
    return *std::ranges::find(kMacs, mac, &MacInfo::mac);
}

const EVP_CIPHER* evp_cipher(CipherAlgorithm cipher)
{
    switch (cipher) {
    case CipherAlgorithm::Aes128Cbc:
        return EVP_aes_128_cbc();
    case CipherAlgorithm::Aes192Cbc:
        return EVP_aes_192_cbc();
    case CipherAlgorithm::Aes256Cbc:
        break;
    }
    return EVP_aes_256_cbc();
}

// The fragment after '#', lower case; "hmac-sha-256" is an older spelling.
std::string fragment(std::string_view uri)
{
    const auto hash = uri.rfind('#');
    std::string name(hash == std::string_view::npos ? uri : uri.substr(hash + 1));
    std::ranges::transform(name, name.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (name.starts_with("hmac-sha-"))
        name.erase(8, 1);
    return name;
}

OpError crypto_failure(std::string_view what)
{
    return {Fault::Crypto, 0, std::string(what) + " failed in the cryptographic library"};
}

using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

constexpr std::size_t kAesBlock = 16;

} // namespace

std::size_t key_length(CipherAlgorithm cipher)
{
    return info(cipher).keyLength;
}

std::string_view uri(CipherAlgorithm cipher)
{
    return info(cipher).uri;
}

std::string_view uri(MacAlgorithm mac)
{
    return info(mac).uri;
}

std::size_t digest_length(MacAlgorithm mac)
{
    return info(mac).length;
}

std::string label(CipherAlgorithm cipher)
{
    const std::string_view name = info(cipher).name; // "aes128-cbc"
    std::string text = "AES-";
    for (const char c : name.substr(3))
        text.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    return text;
}

std::string label(MacAlgorithm mac)
{
    std::string text(info(mac).name);
    std::ranges::transform(text, text.begin(),
                           [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

std::optional<CipherAlgorithm> cipher_from_uri(std::string_view text)
{
    const std::string name = fragment(text);
    for (const CipherInfo& c : kCiphers)
        if (c.name == name)
            return c.cipher;
    return std::nullopt;
}

std::optional<MacAlgorithm> mac_from_uri(std::string_view text)
{
    const std::string name = fragment(text);
    for (const MacInfo& m : kMacs)
        if (m.name == name)
            return m.mac;
    return std::nullopt;
}

std::optional<CipherAlgorithm> cipher_for_key_length(std::size_t length)
{
    for (const CipherInfo& c : kCiphers)
        if (c.keyLength == length)
            return c.cipher;
    return std::nullopt;
}

OpResult<SecretBytes> random_bytes(std::size_t count)
{
    SecretBytes bytes(count);
    if (count && RAND_bytes(bytes.data(), static_cast<int>(count)) != 1)
        return std::unexpected(crypto_failure("drawing random bytes"));
    return bytes;
}

OpResult<SecretBytes> pbkdf2(const Password& password, std::span<const uint8_t> salt,
                             int iterations, MacAlgorithm prf, std::size_t length)
{
    SecretBytes key(length);
    const EVP_MD* md = EVP_get_digestbyname(info(prf).digest);
    if (!md || PKCS5_PBKDF2_HMAC(password.text().data(), static_cast<int>(password.text().size()),
                                 salt.data(), static_cast<int>(salt.size()), iterations, md,
                                 static_cast<int>(length), key.data()) != 1)
        return std::unexpected(crypto_failure("deriving the key from the password"));
    return key;
}

OpResult<std::vector<uint8_t>> encrypt(CipherAlgorithm cipher, const SecretBytes& key,
                                       std::span<const uint8_t> plain)
{
    auto iv = random_bytes(kAesBlock);
    if (!iv)
        return std::unexpected(iv.error());
    std::vector<uint8_t> out(iv->view().begin(), iv->view().end());
    out.resize(kAesBlock + plain.size() + kAesBlock);

    CipherContext ctx(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
    int written = 0;
    int last = 0;
    if (!ctx || key.size() != key_length(cipher) ||
        EVP_EncryptInit_ex(ctx.get(), evp_cipher(cipher), nullptr, key.data(), iv->data()) != 1 ||
        EVP_EncryptUpdate(ctx.get(), out.data() + kAesBlock, &written, plain.data(),
                          static_cast<int>(plain.size())) != 1 ||
        EVP_EncryptFinal_ex(ctx.get(), out.data() + kAesBlock + written, &last) != 1)
        return std::unexpected(crypto_failure("encrypting a value"));
    out.resize(kAesBlock + static_cast<std::size_t>(written + last));
    return out;
}

std::optional<SecretBytes> decrypt(CipherAlgorithm cipher, const SecretBytes& key,
                                   std::span<const uint8_t> ivAndCipherText)
{
    if (ivAndCipherText.size() < 2 * kAesBlock || ivAndCipherText.size() % kAesBlock != 0 ||
        key.size() != key_length(cipher))
        return std::nullopt;
    const std::span<const uint8_t> body = ivAndCipherText.subspan(kAesBlock);
    SecretBytes plain(body.size() + kAesBlock);

    CipherContext ctx(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
    int written = 0;
    int last = 0;
    if (!ctx ||
        EVP_DecryptInit_ex(ctx.get(), evp_cipher(cipher), nullptr, key.data(),
                           ivAndCipherText.data()) != 1 ||
        EVP_DecryptUpdate(ctx.get(), plain.data(), &written, body.data(),
                          static_cast<int>(body.size())) != 1 ||
        EVP_DecryptFinal_ex(ctx.get(), plain.data() + written, &last) != 1)
        return std::nullopt;
    plain.truncate(static_cast<std::size_t>(written + last));
    return plain;
}

OpResult<std::vector<uint8_t>> hmac(MacAlgorithm mac, const SecretBytes& key,
                                    std::span<const uint8_t> data)
{
    std::vector<uint8_t> out(EVP_MAX_MD_SIZE);
    std::size_t length = 0;
    if (!EVP_Q_mac(nullptr, "HMAC", nullptr, info(mac).digest, nullptr, key.data(), key.size(),
                   data.data(), data.size(), out.data(), out.size(), &length))
        return std::unexpected(crypto_failure("computing a MAC"));
    out.resize(length);
    return out;
}

bool equal_in_constant_time(std::span<const uint8_t> a, std::span<const uint8_t> b)
{
    return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

std::optional<std::vector<uint8_t>> xml_base64_decode(std::string_view text)
{
    std::string compact;
    compact.reserve(text.size());
    for (const char c : text)
        if (!std::isspace(static_cast<unsigned char>(c)))
            compact.push_back(c);
    return core::base64_decode(compact);
}

} // namespace otp::pskc
