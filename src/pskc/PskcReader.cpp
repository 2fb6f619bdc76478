// Reading side of Container: parses a container, takes or derives its key,
// and decrypts and verifies every encrypted value before anything is used.

#include "pskc/ContainerState.h"
#include "pskc/PskcContainer.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <charconv>

using namespace otp::core;

namespace otp::pskc {
namespace {

std::string_view trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

std::string_view text_of(pugi::xml_node node)
{
    return trimmed(node.text().get());
}

template <typename Int> std::optional<Int> parse_number(std::string_view text)
{
    Int value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

pugi::xml_node find_descendant(pugi::xml_node root, std::string_view localName)
{
    return root.find_node([&](pugi::xml_node node) {
        return node.type() == pugi::node_element && local_name(node) == localName;
    });
}

// Whether `text` can stand before the colon of an element name. An attribute
// such as "xmlns:a:b" or "xmlns:8a" is a well-formed name but declares no
// prefix; new elements named with it would not parse, or not be found by
// their local name.
bool is_prefix(std::string_view text)
{
    if (text.empty() || text.find(':') != std::string_view::npos)
        return false;
    const auto first = static_cast<unsigned char>(text.front());
    return std::isalpha(first) || first == '_' || first >= 0x80;
}

// The prefix bound to `uri` on the root element, or nothing.
std::optional<std::string> declared_prefix(pugi::xml_node root, std::string_view uri)
{
    for (pugi::xml_attribute attribute : root.attributes()) {
        const std::string_view name = attribute.name();
        if (attribute.value() != uri)
            continue;
        if (name == "xmlns")
            return std::string();
        if (name.starts_with("xmlns:") && is_prefix(name.substr(6)))
            return std::string(name.substr(6));
    }
    return std::nullopt;
}

// New key packages reuse the document's prefixes; XML Encryption is declared
// on the root when the document declares it only further down, or not at all.
void adopt_prefixes(ContainerState& state, pugi::xml_node root)
{
    const std::string_view rootName = root.name();
    const auto colon = rootName.find(':');
    state.pskcPrefix =
        colon == std::string_view::npos ? "" : std::string(rootName.substr(0, colon));
    if (auto xenc = declared_prefix(root, kXencNamespace)) {
        state.xencPrefix = *xenc;
        return;
    }
    std::string prefix = "xenc";
    while (root.attribute(("xmlns:" + prefix).c_str()))
        prefix += "_";
    root.append_attribute(("xmlns:" + prefix).c_str())
        .set_value(std::string(kXencNamespace).c_str());
    state.xencPrefix = prefix;
}

struct EncryptedData
{
    CipherAlgorithm cipher;
    std::vector<uint8_t> cipherValue; // IV and cipher text
};

// <EncryptionMethod Algorithm=.../><CipherData><CipherValue>...
OpResult<EncryptedData> read_encrypted(pugi::xml_node node, std::string_view what)
{
    const std::string_view algorithm =
        child(node, "EncryptionMethod").attribute("Algorithm").value();
    const auto cipher = cipher_from_uri(algorithm);
    if (!cipher)
        return fail(
            Fault::Unsupported,
            fmt::format("{} is encrypted with '{}'; only AES-CBC is supported", what, algorithm));
    auto value = xml_base64_decode(text_of(child(child(node, "CipherData"), "CipherValue")));
    if (!value || value->empty())
        return fail(Fault::NotPskc, fmt::format("{} has no base64 CipherValue", what));
    return EncryptedData{*cipher, std::move(*value)};
}

class Reader
{
public:
    Reader(ContainerState& state, const Credential& credential)
        : m_state(state), m_credential(credential)
    {
    }

    OpResult<void> read(pugi::xml_node root)
    {
        m_state.isSigned = static_cast<bool>(child(root, "Signature"));
        if (auto keys = read_keys(root); !keys)
            return keys;
        for (pugi::xml_node node : root.children()) {
            if (node.type() != pugi::node_element || local_name(node) != "KeyPackage")
                continue;
            for (pugi::xml_node key : node.children())
                if (key.type() == pugi::node_element && local_name(key) == "Key")
                    if (auto read = read_key(node, key); !read)
                        return read;
        }
        return verdict();
    }

private:
    bool usesPassword() const { return std::holds_alternative<Password>(m_credential); }

    OpError wrong_credential() const
    {
        return usesPassword() ? OpError{Fault::WrongPassword, 0,
                                        "the password is wrong: it does not decrypt the container"}
                              : OpError{Fault::WrongKey, 0,
                                        "the key is wrong: it does not decrypt the container"};
    }

    OpResult<void> read_keys(pugi::xml_node root)
    {
        const pugi::xml_node macMethod = child(root, "MACMethod");
        const pugi::xml_node macKey = child(macMethod, "MACKey");
        // The cipher new key packages use: the MAC key's, else the first value's.
        const pugi::xml_node firstEncrypted =
            macKey ? macKey : find_descendant(root, "EncryptedValue");
        if (firstEncrypted) {
            auto encrypted = read_encrypted(firstEncrypted, "the first encrypted value");
            if (!encrypted)
                return std::unexpected(encrypted.error());
            m_state.cipher = encrypted->cipher;
        }

        const pugi::xml_node derivedKey = child(child(root, "EncryptionKey"), "DerivedKey");
        if (derivedKey && !usesPassword())
            return fail(Fault::WrongProtection,
                        "the container is protected by a password, not by a pre-shared key");
        if (!derivedKey && usesPassword())
            return fail(Fault::WrongProtection,
                        "the container is protected by a pre-shared key, not by a password");
        auto key = derivedKey ? derive(derivedKey, static_cast<bool>(firstEncrypted))
                              : preshared(static_cast<bool>(firstEncrypted));
        if (!key)
            return key;

        if (!macMethod)
            return fail(Fault::Unsupported,
                        "the container has no MACMethod, so its values cannot be verified");
        const std::string_view macUri = macMethod.attribute("Algorithm").value();
        const auto mac = mac_from_uri(macUri);
        if (!mac)
            return fail(Fault::Unsupported,
                        fmt::format("MAC algorithm '{}' is not supported", macUri));
        m_state.mac = *mac;
        if (!macKey) {
            // Older containers MAC with the encryption key itself.
            m_state.macKey = m_state.encryptionKey;
            return {};
        }
        auto encrypted = read_encrypted(macKey, "the MAC key");
        if (!encrypted)
            return std::unexpected(encrypted.error());
        auto plain = decrypt_with(*encrypted);
        if (!plain)
            return std::unexpected(wrong_credential());
        // Every writer we know makes the MAC key as long as the MAC; a wrong
        // key gives that length only by a chance of 2^-96 or less.
        m_macKeyHasMacLength = plain->size() == digest_length(m_state.mac);
        m_state.macKey = std::move(*plain);
        return {};
    }

    OpResult<void> derive(pugi::xml_node derivedKey, bool cipherKnown)
    {
        const pugi::xml_node method = child(derivedKey, "KeyDerivationMethod");
        const std::string_view algorithm = method.attribute("Algorithm").value();
        if (!algorithm.ends_with("#pbkdf2"))
            return fail(Fault::Unsupported,
                        fmt::format("key derivation '{}' is not supported", algorithm));
        const pugi::xml_node params = child(method, "PBKDF2-params");
        const auto salt = xml_base64_decode(text_of(child(child(params, "Salt"), "Specified")));
        const auto iterations = parse_number<int>(text_of(child(params, "IterationCount")));
        if (!salt || salt->empty() || !iterations || *iterations < 1)
            return fail(Fault::NotPskc, "the PBKDF2 parameters lack a salt or iteration count");
        if (*iterations > kMaximumIterations)
            return fail(Fault::Unsupported,
                        fmt::format("{} PBKDF2 iterations are more than the {} this tool accepts",
                                    *iterations, kMaximumIterations));

        std::size_t length = key_length(m_state.cipher);
        if (const pugi::xml_node keyLength = child(params, "KeyLength")) {
            const auto given = parse_number<std::size_t>(text_of(keyLength));
            if (!given || !cipher_for_key_length(*given) ||
                (cipherKnown && *given != key_length(m_state.cipher)))
                return fail(Fault::NotPskc,
                            fmt::format("the PBKDF2 KeyLength '{}' does not fit the cipher",
                                        text_of(keyLength)));
            length = *given;
            if (!cipherKnown)
                m_state.cipher = *cipher_for_key_length(length);
        }

        // RFC 8018 names the PRF in an attribute; some writers put it in the
        // text. Without one, PBKDF2 uses HMAC-SHA1.
        MacAlgorithm prf = MacAlgorithm::HmacSha1;
        if (const pugi::xml_node prfNode = child(params, "PRF")) {
            std::string_view prfUri = prfNode.attribute("Algorithm").value();
            if (prfUri.empty())
                prfUri = text_of(prfNode);
            if (!prfUri.empty()) {
                const auto named = mac_from_uri(prfUri);
                if (!named)
                    return fail(Fault::Unsupported,
                                fmt::format("PBKDF2 PRF '{}' is not supported", prfUri));
                prf = *named;
            }
        }
        m_state.iterations = *iterations;
        m_state.saltLength = salt->size();
        m_state.prf = prf;
        auto key = pbkdf2(std::get<Password>(m_credential), *salt, *iterations, prf, length);
        if (!key)
            return std::unexpected(key.error());
        m_state.encryptionKey = std::move(*key);
        return {};
    }

    OpResult<void> preshared(bool cipherKnown)
    {
        const SecretBytes& key = std::get<PresharedKey>(m_credential).key;
        if (!cipherKnown) {
            const auto cipher = cipher_for_key_length(key.size());
            if (!cipher)
                return fail(Fault::WrongKey,
                            fmt::format("a {}-byte key is no AES key", key.size()));
            m_state.cipher = *cipher;
        } else if (key.size() != key_length(m_state.cipher)) {
            return fail(Fault::WrongKey,
                        fmt::format("the key has {} bytes; the container needs a {}-byte AES key",
                                    key.size(), key_length(m_state.cipher)));
        }
        m_state.encryptionKey = key;
        return {};
    }

    std::optional<SecretBytes> decrypt_with(const EncryptedData& data) const
    {
        if (m_state.encryptionKey.size() != key_length(data.cipher))
            return std::nullopt;
        return decrypt(data.cipher, m_state.encryptionKey, data.cipherValue);
    }

    // One Data child: PlainValue, or EncryptedValue with its ValueMAC. A
    // value whose MAC does not match is counted, not decrypted.
    OpResult<std::optional<SecretBytes>> read_value(pugi::xml_node element, const std::string& what)
    {
        const pugi::xml_node encryptedValue = child(element, "EncryptedValue");
        if (!encryptedValue) {
            const pugi::xml_node plain = child(element, "PlainValue");
            const std::string_view text = text_of(plain);
            return SecretBytes(
                std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
        }
        auto encrypted = read_encrypted(encryptedValue, what);
        if (!encrypted)
            return std::unexpected(encrypted.error());
        const auto macValue = xml_base64_decode(text_of(child(element, "ValueMAC")));
        if (!macValue || macValue->empty())
            return fail(Fault::Tampered, fmt::format("{} has no ValueMAC", what));
        auto expected = hmac(m_state.mac, m_state.macKey, encrypted->cipherValue);
        if (!expected)
            return std::unexpected(expected.error());
        ++m_valuesChecked;
        if (!equal_in_constant_time(*expected, *macValue)) {
            m_mismatched.push_back(what);
            return std::optional<SecretBytes>();
        }
        auto plain = decrypt_with(*encrypted);
        if (!plain)
            return fail(Fault::Tampered,
                        fmt::format("{} matches its MAC but does not decrypt", what));
        return std::optional<SecretBytes>(std::move(*plain));
    }

    // An encrypted integer is its decimal text or its big-endian bytes.
    static std::optional<uint64_t> integer_of(const SecretBytes& bytes, bool encrypted)
    {
        const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        if (auto number = parse_number<uint64_t>(trimmed(text)))
            return number;
        if (!encrypted || bytes.empty() || bytes.size() > 8)
            return std::nullopt;
        uint64_t value = 0;
        for (uint8_t b : bytes.view())
            value = (value << 8) | b;
        return value;
    }

    OpResult<void> read_key(pugi::xml_node keyPackage, pugi::xml_node key)
    {
        KeyPackage package;
        package.keyId = key.attribute("Id").value();
        const std::string label = fmt::format("key {}", package.keyId);
        if (package.keyId.empty())
            return fail(Fault::NotPskc, "a key has no Id");

        const std::string_view algorithm = key.attribute("Algorithm").value();
        if (algorithm == kHotpAlgorithm)
            package.algorithm = OtpAlgorithm::Hotp;
        else if (algorithm == kTotpAlgorithm)
            package.algorithm = OtpAlgorithm::Totp;
        else
            return fail(Fault::Unsupported,
                        fmt::format("{} uses algorithm '{}'; only HOTP and TOTP are supported",
                                    label, algorithm));

        const pugi::xml_node parameters = child(key, "AlgorithmParameters");
        std::string suite(text_of(child(parameters, "Suite")));
        std::erase(suite, '-');
        std::ranges::transform(suite, suite.begin(),
                               [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        if (suite == "HMACSHA256" || suite == "SHA256")
            package.hash = OtpHash::Sha256;
        else if (suite.empty() || suite == "HMACSHA1" || suite == "SHA1")
            package.hash = OtpHash::Sha1;
        else
            return fail(Fault::Unsupported,
                        fmt::format("{} uses Suite '{}'; only SHA-1 and SHA-256 are supported",
                                    label, text_of(child(parameters, "Suite"))));
        if (const pugi::xml_attribute length =
                child(parameters, "ResponseFormat").attribute("Length"))
            package.digits = length.as_int();

        const pugi::xml_node device = child(keyPackage, "DeviceInfo");
        package.manufacturer = text_of(child(device, "Manufacturer"));
        package.model = text_of(child(device, "Model"));
        // The key that holds the token is the device it is bound to; older
        // files of this tool, and others, put it in SerialNo.
        package.deviceSerial = text_of(child(device, "DeviceBinding"));
        if (const std::string_view serialNo = text_of(child(device, "SerialNo"));
            package.deviceSerial.empty() && serialNo != package.keyId)
            package.deviceSerial = serialNo;
        package.userId = text_of(child(key, "UserId"));
        if (package.userId.empty())
            package.userId = text_of(child(device, "UserId"));
        package.expiryDate = text_of(child(child(key, "Policy"), "ExpiryDate"));

        const pugi::xml_node data = child(key, "Data");
        bool hasSecret = false;
        for (pugi::xml_node element : data.children()) {
            if (element.type() != pugi::node_element)
                continue;
            const std::string_view name = local_name(element);
            const std::string what = fmt::format("the {} of {}", name, label);
            auto value = read_value(element, what);
            if (!value)
                return std::unexpected(value.error());
            if (!*value)
                continue; // MAC mismatch, judged once all values are read
            const bool encrypted = static_cast<bool>(child(element, "EncryptedValue"));
            if (name == "Secret") {
                if (!encrypted)
                    return fail(Fault::Unsupported,
                                fmt::format("{} holds its secret in clear text", label));
                package.secret = std::move(**value);
                hasSecret = true;
            } else if (name == "Counter" || name == "TimeInterval") {
                const auto number = integer_of(**value, encrypted);
                if (!number)
                    return fail(Fault::NotPskc, fmt::format("{} is not a number", what));
                if (name == "Counter")
                    package.counter = *number;
                else
                    package.interval = static_cast<int>(*number);
            }
        }
        if (!hasSecret && std::ranges::find(m_mismatched, fmt::format("the Secret of {}", label)) ==
                              m_mismatched.end())
            return fail(Fault::NotPskc, fmt::format("{} has no secret", label));
        m_state.packages.push_back(std::move(package));
        return {};
    }

    OpResult<void> verdict() const
    {
        const bool noneMatched = m_mismatched.size() == m_valuesChecked;
        if (!m_macKeyHasMacLength && noneMatched)
            return std::unexpected(wrong_credential());
        if (m_mismatched.empty())
            return {};
        std::string list = m_mismatched.front();
        for (std::size_t i = 1; i < m_mismatched.size(); ++i)
            list += (i + 1 == m_mismatched.size() ? " and " : ", ") + m_mismatched[i];
        const bool one = m_mismatched.size() == 1;
        return fail(Fault::Tampered,
                    fmt::format("the container has been changed: the {} of {} {} not match",
                                one ? "MAC" : "MACs", list, one ? "does" : "do"));
    }

    ContainerState& m_state;
    const Credential& m_credential;
    bool m_macKeyHasMacLength = false;
    std::size_t m_valuesChecked = 0;
    std::vector<std::string> m_mismatched;
};

} // namespace

bool Container::is_container(std::string_view xml)
{
    pugi::xml_document document;
    return document.load_buffer(xml.data(), xml.size(), pugi::parse_minimal, pugi::encoding_auto) &&
           local_name(document.document_element()) == "KeyContainer";
}

OpResult<Container> Container::parse(std::string_view xml, const Credential& credential)
{
    auto state = std::make_unique<ContainerState>();
    const pugi::xml_parse_result parsed = state->xml.load_buffer(
        xml.data(), xml.size(), pugi::parse_default | pugi::parse_declaration, pugi::encoding_auto);
    if (!parsed)
        return fail(Fault::NotPskc, fmt::format("not well-formed XML ({} at byte {})",
                                                parsed.description(), parsed.offset));
    const pugi::xml_node root = state->xml.document_element();
    if (local_name(root) != "KeyContainer")
        return fail(Fault::NotPskc, "not a PSKC file: its root is not a KeyContainer");
    const std::string_view version = root.attribute("Version").value();
    if (version != "1.0" && version != "1")
        return fail(Fault::Unsupported,
                    fmt::format("PSKC version '{}' is not supported (only 1.0)", version));

    adopt_prefixes(*state, root);
    if (auto read = Reader(*state, credential).read(root); !read)
        return std::unexpected(read.error());
    return Container(std::move(state));
}

} // namespace otp::pskc
