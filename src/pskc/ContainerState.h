#pragma once

// What a Container keeps between calls; shared by the reader and the writer.

#include "core/Secret.h"
#include "pskc/KeyPackage.h"
#include "pskc/PskcCrypto.h"

#include <pugixml.hpp>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace otp::pskc {

inline constexpr std::string_view kPskcNamespace = "urn:ietf:params:xml:ns:keyprov:pskc";
inline constexpr std::string_view kXencNamespace = "http://www.w3.org/2001/04/xmlenc#";

struct ContainerState
{
    pugi::xml_document xml;
    // Prefixes of the PSKC and XML Encryption namespaces in this document
    // ("" for a default namespace); a parsed file keeps its own.
    std::string pskcPrefix = "pskc";
    std::string xencPrefix = "xenc";
    // A signature covers the whole container; adding to it would break it.
    bool isSigned = false;

    CipherAlgorithm cipher = CipherAlgorithm::Aes256Cbc;
    // How the key was derived from a password; both 0 for a pre-shared key.
    int iterations = 0;
    std::size_t saltLength = 0;
    std::optional<MacAlgorithm> prf; // none for a pre-shared key
    core::SecretBytes encryptionKey;
    MacAlgorithm mac = MacAlgorithm::HmacSha256;
    core::SecretBytes macKey;

    std::vector<KeyPackage> packages;
};

// Element names without their namespace prefix: peers use different
// prefixes, or none.
inline std::string_view local_name(pugi::xml_node node)
{
    const std::string_view name = node.name();
    const auto colon = name.find(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

inline pugi::xml_node child(pugi::xml_node parent, std::string_view localName)
{
    for (pugi::xml_node node = parent.first_child(); node; node = node.next_sibling())
        if (node.type() == pugi::node_element && local_name(node) == localName)
            return node;
    return {};
}

inline std::string qualified(std::string_view prefix, std::string_view localName)
{
    return prefix.empty() ? std::string(localName)
                          : std::string(prefix).append(":").append(localName);
}

} // namespace otp::pskc
