#pragma once

// A PSKC key container (RFC 6030) with every secret encrypted: AES-CBC under
// a key derived from a password with PBKDF2 (section 6.2) or under a
// pre-shared AES key (section 6.1), each encrypted value followed by an HMAC
// over its IV and cipher text (section 6.1.1) whose key travels encrypted in
// the container.
//
// A container is either new or parsed from existing XML. A parsed container
// keeps its XML as it was, including what this tool does not model, and new
// key packages are added with the same keys, so extending a file written by
// another program leaves its keys readable by that program.

#include "core/Error.h"
#include "core/Secret.h"
#include "pskc/KeyPackage.h"
#include "pskc/PskcCrypto.h"

#include <chrono>
#include <ctime>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace otp::pskc {

struct PresharedKey
{
    core::SecretBytes key; // 16, 24 or 32 bytes: AES-128, -192 or -256
    std::string name;      // written as the container's KeyName, so the reader knows which key
};

using Credential = std::variant<core::Password, PresharedKey>;

inline constexpr int kMinimumIterations = 100'000;
// Reading stops here, so that a crafted file cannot keep the tool busy for hours.
inline constexpr int kMaximumIterations = 10'000'000;
inline constexpr std::size_t kSaltLength = 16;

// The algorithms of a new container. Interop is RFC 6030's mandatory set
// (AES-128-CBC, HMAC-SHA1 for every ValueMAC, PBKDF2 with its default PRF
// HMAC-SHA1), the only one every server importer implements. Strong is
// AES-256-CBC, HMAC-SHA256 and PBKDF2 with HMAC-SHA256, for files that stay
// with readers that take them. A pre-shared key's length chooses the cipher
// in either; the MAC follows the profile.
enum class Profile { Interop, Strong };
inline constexpr Profile kDefaultProfile = Profile::Interop;
std::string_view profile_name(Profile profile);
std::optional<Profile> parse_profile(std::string_view name);

struct ContainerSettings
{
    int iterations = kMinimumIterations; // at least kMinimumIterations
    Profile profile = kDefaultProfile;   // of a new container
    // An existing container keeps its own profile, so that one file never
    // mixes two; with this set, one of another profile is refused instead
    // (the profile was asked for by name).
    bool requireProfile = false;
};

struct ContainerState;

class Container
{
public:
    // An empty container: with a password, a fresh salt and the key derived
    // from it; with either credential, a fresh MAC key.
    static core::OpResult<Container> create(const Credential& credential,
                                            const ContainerSettings& settings = {});
    // Parses the XML, derives or takes the key, and decrypts and verifies
    // every encrypted value. Anything less is an error: a wrong password or
    // key, a changed value or MAC, a secret in clear text.
    static core::OpResult<Container> parse(std::string_view xml, const Credential& credential);
    // Whether the XML is a key container at all (its root is a KeyContainer),
    // whatever it holds; nothing is decrypted.
    static bool is_container(std::string_view xml);

    Container(Container&&) noexcept;
    Container& operator=(Container&&) noexcept;
    ~Container();

    const std::vector<KeyPackage>& packages() const;

    // The profile the container's MAC and PBKDF2 PRF make; none for a mix
    // that another program wrote. Key packages added keep the container's
    // own algorithms whatever it is.
    std::optional<Profile> profile() const;
    // "AES-128-CBC, HMAC-SHA1, PBKDF2 with HMAC-SHA1, 100000 iterations,
    // 16-byte salt", or "AES-128-CBC, HMAC-SHA1, a pre-shared key".
    std::string algorithms() const;
    bool contains(std::string_view keyId) const;

    // Why the password protection is below what this tool writes (fewer
    // than kMinimumIterations PBKDF2 iterations, a salt shorter than
    // kSaltLength), or empty when it is not. Such a container reads as any
    // other; a file of it is not extended (pskc/PskcFile.h).
    std::string weak_protection() const;

    // Whether a key package with this id can be added: not to a signed
    // container (the signature would break), not a second time.
    core::OpResult<void> can_add(std::string_view keyId) const;
    // Encrypts the secret with a fresh IV, MACs it and appends a KeyPackage.
    // Refuses what can_add refuses.
    core::OpResult<void> add(const KeyPackage& package);
    // Retires the token from `now` on: its Key gets a Policy/ExpiryDate, so
    // a server importing the file no longer accepts it, while its key
    // package, secret and MACs stay as a record of which key held it. Refused
    // for a signed container and a key id the container does not hold; a
    // token retired already keeps its date.
    core::OpResult<void> retire(std::string_view keyId, std::time_t now);
    // Takes out the key package `add` appended last for this key id; the
    // caller's undo when writing the file fails.
    void remove_added(std::string_view keyId);

    std::string to_xml() const;

private:
    explicit Container(std::unique_ptr<ContainerState> state);
    std::unique_ptr<ContainerState> m_state;
};

} // namespace otp::pskc
