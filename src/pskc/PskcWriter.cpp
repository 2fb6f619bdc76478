// Writing side of Container: a new container's header and every key package
// added to a new or parsed container.

#include "core/Codecs.h"
#include "pskc/ContainerState.h"
#include "pskc/PskcContainer.h"

#include <fmt/format.h>

#include <algorithm>

using namespace otp::core;

namespace otp::pskc {
namespace {

constexpr std::string_view kXenc11Namespace = "http://www.w3.org/2009/xmlenc11#";
constexpr std::string_view kPkcs5Namespace =
    "http://www.rsasecurity.com/rsalabs/pkcs/schemas/pkcs-5v2-0#";
constexpr std::string_view kDsigNamespace = "http://www.w3.org/2000/09/xmldsig#";

struct ProfileAlgorithms
{
    CipherAlgorithm passwordCipher; // a pre-shared key's length chooses its own
    MacAlgorithm mac;               // the MAC key is as long as its digest
    MacAlgorithm prf;
};

ProfileAlgorithms algorithms_of(Profile profile)
{
    if (profile == Profile::Strong)
        return {CipherAlgorithm::Aes256Cbc, MacAlgorithm::HmacSha256, MacAlgorithm::HmacSha256};
    return {CipherAlgorithm::Aes128Cbc, MacAlgorithm::HmacSha1, MacAlgorithm::HmacSha1};
}

class Element
{
public:
    Element(pugi::xml_node node, std::string_view prefix) : m_node(node), m_prefix(prefix) {}
    Element add(std::string_view localName) const
    {
        return {pugi::xml_node(m_node).append_child(qualified(m_prefix, localName).c_str()),
                m_prefix};
    }
    Element add(std::string_view prefix, std::string_view localName) const
    {
        return {pugi::xml_node(m_node).append_child(qualified(prefix, localName).c_str()),
                m_prefix};
    }
    const Element& text(std::string_view value) const
    {
        m_node.text().set(std::string(value).c_str());
        return *this;
    }
    const Element& attribute(std::string_view name, std::string_view value) const
    {
        pugi::xml_node(m_node)
            .append_attribute(std::string(name).c_str())
            .set_value(std::string(value).c_str());
        return *this;
    }
    pugi::xml_node node() const { return m_node; }

private:
    pugi::xml_node m_node;
    std::string_view m_prefix;
};

// <EncryptionMethod/><CipherData><CipherValue/></CipherData> under `parent`.
OpResult<std::vector<uint8_t>> add_encrypted(const ContainerState& state, const Element& parent,
                                             std::span<const uint8_t> plain)
{
    auto cipherValue = encrypt(state.cipher, state.encryptionKey, plain);
    if (!cipherValue)
        return cipherValue;
    parent.add(state.xencPrefix, "EncryptionMethod").attribute("Algorithm", uri(state.cipher));
    parent.add(state.xencPrefix, "CipherData")
        .add(state.xencPrefix, "CipherValue")
        .text(base64_encode(*cipherValue));
    return cipherValue;
}

OpResult<void> add_secret(const ContainerState& state, const Element& data,
                          const SecretBytes& secret)
{
    const Element element = data.add("Secret");
    auto cipherValue = add_encrypted(state, element.add("EncryptedValue"), secret.view());
    if (!cipherValue)
        return std::unexpected(cipherValue.error());
    auto mac = hmac(state.mac, state.macKey, *cipherValue);
    if (!mac)
        return std::unexpected(mac.error());
    element.add("ValueMAC").text(base64_encode(*mac));
    return {};
}

void add_plain(const Element& data, std::string_view localName, uint64_t value)
{
    data.add(localName).add("PlainValue").text(std::to_string(value));
}

OpResult<void> check(const KeyPackage& package)
{
    auto invalid = [&](std::string_view what) {
        return std::unexpected(
            OpError{Fault::Refused, 0, fmt::format("key package {}: {}", package.keyId, what)});
    };
    if (package.keyId.empty())
        return std::unexpected(
            OpError{Fault::Refused, 0, "a key package needs a key id (the serial number)"});
    if (package.secret.empty())
        return invalid("no secret");
    if (!package.digits)
        return invalid("no number of digits");
    if (package.algorithm == OtpAlgorithm::Totp && !package.interval)
        return invalid("a TOTP token needs a time interval");
    return {};
}

// Where a new KeyPackage goes: after the last one, else after the headers,
// so that a Signature or Extensions element stays at the end.
pugi::xml_node insert_package(pugi::xml_node root, const std::string& name)
{
    pugi::xml_node after;
    for (pugi::xml_node node = root.first_child(); node; node = node.next_sibling()) {
        const std::string_view local = local_name(node);
        if (local == "KeyPackage" || local == "MACMethod" || local == "EncryptionKey")
            after = node;
    }
    return after ? root.insert_child_after(name.c_str(), after) : root.prepend_child(name.c_str());
}

struct StringWriter final : pugi::xml_writer
{
    std::string out;
    void write(const void* data, size_t size) override
    {
        out.append(static_cast<const char*>(data), size);
    }
};

} // namespace

Container::Container(std::unique_ptr<ContainerState> state) : m_state(std::move(state)) {}
Container::Container(Container&&) noexcept = default;
Container& Container::operator=(Container&&) noexcept = default;
Container::~Container() = default;

OpResult<Container> Container::create(const Credential& credential,
                                      const ContainerSettings& settings)
{
    const ProfileAlgorithms algorithms = algorithms_of(settings.profile);
    auto state = std::make_unique<ContainerState>();
    pugi::xml_node declaration = state->xml.append_child(pugi::node_declaration);
    declaration.append_attribute("version") = "1.0";
    declaration.append_attribute("encoding") = "UTF-8";
    const Element root(state->xml.append_child("pskc:KeyContainer"), "pskc");
    root.attribute("xmlns:pskc", kPskcNamespace)
        .attribute("xmlns:xenc", kXencNamespace)
        .attribute("Version", "1.0");
    const Element encryptionKey = root.add("EncryptionKey");

    if (const auto* password = std::get_if<Password>(&credential)) {
        if (password->empty())
            return std::unexpected(OpError{Fault::Refused, 0, "the password is empty"});
        if (settings.iterations < kMinimumIterations)
            return std::unexpected(
                OpError{Fault::Refused, 0,
                        fmt::format("PBKDF2 needs at least {} iterations", kMinimumIterations)});
        state->cipher = algorithms.passwordCipher;
        state->prf = algorithms.prf;
        auto salt = random_bytes(kSaltLength);
        if (!salt)
            return std::unexpected(salt.error());
        auto key = pbkdf2(*password, salt->view(), settings.iterations, algorithms.prf,
                          key_length(state->cipher));
        if (!key)
            return std::unexpected(key.error());
        state->encryptionKey = std::move(*key);
        state->iterations = settings.iterations;
        state->saltLength = kSaltLength;

        root.attribute("xmlns:xenc11", kXenc11Namespace).attribute("xmlns:pkcs5", kPkcs5Namespace);
        const Element params = encryptionKey.add("xenc11", "DerivedKey")
                                   .add("xenc11", "KeyDerivationMethod")
                                   .attribute("Algorithm", kPbkdf2Uri)
                                   .add("pkcs5", "PBKDF2-params");
        params.add("", "Salt").add("", "Specified").text(base64_encode(salt->view()));
        params.add("", "IterationCount").text(std::to_string(settings.iterations));
        params.add("", "KeyLength").text(std::to_string(key_length(state->cipher)));
        // RFC 8018's default PRF is HMAC-SHA1: an interop file says nothing,
        // as importers that derive with HMAC-SHA1 whatever the PRF element
        // says expect; a strong file always names its PRF.
        if (algorithms.prf != MacAlgorithm::HmacSha1)
            params.add("", "PRF").attribute("Algorithm", uri(algorithms.prf));
    } else {
        const auto& preshared = std::get<PresharedKey>(credential);
        const auto cipher = cipher_for_key_length(preshared.key.size());
        if (!cipher)
            return std::unexpected(
                OpError{Fault::Refused, 0,
                        fmt::format("a {}-byte key is no AES key (16, 24 or 32 bytes)",
                                    preshared.key.size())});
        state->cipher = *cipher;
        state->encryptionKey = preshared.key;
        // The schema wants a KeyName; it tells the receiver which key to use.
        root.attribute("xmlns:ds", kDsigNamespace);
        encryptionKey.add("ds", "KeyName")
            .text(preshared.name.empty() ? "Pre-shared key" : preshared.name);
    }

    state->mac = algorithms.mac;
    auto macKey = random_bytes(digest_length(state->mac));
    if (!macKey)
        return std::unexpected(macKey.error());
    state->macKey = std::move(*macKey);
    const Element macMethod = root.add("MACMethod").attribute("Algorithm", uri(state->mac));
    if (auto encrypted = add_encrypted(*state, macMethod.add("MACKey"), state->macKey.view());
        !encrypted)
        return std::unexpected(encrypted.error());
    return Container(std::move(state));
}

const std::vector<KeyPackage>& Container::packages() const
{
    return m_state->packages;
}

bool Container::contains(std::string_view keyId) const
{
    return std::ranges::any_of(m_state->packages,
                               [&](const KeyPackage& p) { return p.keyId == keyId; });
}

std::string_view profile_name(Profile profile)
{
    return profile == Profile::Strong ? "strong" : "interop";
}

std::optional<Profile> parse_profile(std::string_view name)
{
    for (const Profile profile : {Profile::Interop, Profile::Strong})
        if (name == profile_name(profile))
            return profile;
    return std::nullopt;
}

std::optional<Profile> Container::profile() const
{
    const ContainerState& state = *m_state;
    for (const Profile profile : {Profile::Interop, Profile::Strong}) {
        const ProfileAlgorithms algorithms = algorithms_of(profile);
        if (state.mac == algorithms.mac && state.prf.value_or(algorithms.prf) == algorithms.prf)
            return profile;
    }
    return std::nullopt;
}

std::string Container::algorithms() const
{
    const ContainerState& state = *m_state;
    std::string text = label(state.cipher) + ", " + label(state.mac) + ", ";
    if (!state.prf)
        return text + "a pre-shared key";
    return text + fmt::format("PBKDF2 with {}, {} iterations, {}-byte salt", label(*state.prf),
                              state.iterations, state.saltLength);
}

std::string Container::weak_protection() const
{
    const ContainerState& state = *m_state;
    if (state.iterations == 0 ||
        (state.iterations >= kMinimumIterations && state.saltLength >= kSaltLength))
        return {};
    return fmt::format("{} PBKDF2 iterations and a {}-byte salt, where this tool uses at least "
                       "{} and {} bytes",
                       state.iterations, state.saltLength, kMinimumIterations, kSaltLength);
}

OpResult<void> Container::can_add(std::string_view keyId) const
{
    if (m_state->isSigned)
        return fail(Fault::Unsupported,
                    "the container is signed; adding a key would break the signature");
    if (contains(keyId))
        return fail(Fault::Conflict, fmt::format("the container already holds key {}", keyId));
    return {};
}

OpResult<void> Container::add(const KeyPackage& package)
{
    ContainerState& state = *m_state;
    if (auto valid = check(package); !valid)
        return valid;
    if (auto addable = can_add(package.keyId); !addable)
        return addable;

    pugi::xml_node root = state.xml.document_element();
    const Element keyPackage(insert_package(root, qualified(state.pskcPrefix, "KeyPackage")),
                             state.pskcPrefix);
    const Element deviceInfo = keyPackage.add("DeviceInfo");
    // In the schema's order. Importers identify a token by its SerialNo;
    // the key it lives in is the device it is bound to.
    deviceInfo.add("Manufacturer").text(package.manufacturer);
    deviceInfo.add("SerialNo").text(package.keyId);
    deviceInfo.add("Model").text(package.model);
    if (!package.deviceSerial.empty())
        deviceInfo.add("DeviceBinding").text(package.deviceSerial);

    const Element key =
        keyPackage.add("Key")
            .attribute("Id", package.keyId)
            .attribute("Algorithm",
                       package.algorithm == OtpAlgorithm::Hotp ? kHotpAlgorithm : kTotpAlgorithm);
    const Element parameters = key.add("AlgorithmParameters");
    parameters.add("Suite").text(suite_of(package.hash));
    parameters.add("ResponseFormat")
        .attribute("Length", std::to_string(*package.digits))
        .attribute("Encoding", "DECIMAL");

    const Element data = key.add("Data");
    if (auto secret = add_secret(state, data, package.secret); !secret) {
        root.remove_child(keyPackage.node());
        return secret;
    }
    if (package.algorithm == OtpAlgorithm::Hotp)
        add_plain(data, "Counter", package.counter.value_or(0));
    else
        add_plain(data, "TimeInterval", static_cast<uint64_t>(*package.interval));
    if (!package.userId.empty())
        key.add("UserId").text(package.userId);

    state.packages.push_back(package);
    return {};
}

void Container::remove_added(std::string_view keyId)
{
    ContainerState& state = *m_state;
    pugi::xml_node root = state.xml.document_element();
    for (pugi::xml_node node = root.last_child(); node; node = node.previous_sibling()) {
        if (local_name(node) != "KeyPackage")
            continue;
        if (child(node, "Key").attribute("Id").value() == keyId) {
            root.remove_child(node);
            break;
        }
    }
    for (auto it = state.packages.end(); it != state.packages.begin();) {
        if ((--it)->keyId == keyId) {
            state.packages.erase(it);
            break;
        }
    }
}

std::string Container::to_xml() const
{
    StringWriter writer;
    m_state->xml.save(writer, "  ", pugi::format_default, pugi::encoding_utf8);
    return std::move(writer.out);
}

} // namespace otp::pskc
