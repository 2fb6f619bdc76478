// Retiring a token: RFC 6030's Key/Policy/ExpiryDate, "the date after which
// the key must not be used", set to the moment of retirement.

#include "pskc/ContainerState.h"
#include "pskc/PskcContainer.h"

#include <fmt/format.h>

#include <algorithm>

using namespace otp::core;

namespace otp::pskc {
namespace {

// Key's children come in the order Issuer, AlgorithmParameters, ...,
// UserId, Policy, Extensions; Policy's in the order StartDate, ExpiryDate, ...
pugi::xml_node policy_of(pugi::xml_node key, const std::string& prefix)
{
    if (pugi::xml_node policy = child(key, "Policy"))
        return policy;
    const std::string name = qualified(prefix, "Policy");
    if (pugi::xml_node extensions = child(key, "Extensions"))
        return key.insert_child_before(name.c_str(), extensions);
    return key.append_child(name.c_str());
}

} // namespace

OpResult<void> Container::retire(std::string_view keyId, std::time_t now)
{
    ContainerState& state = *m_state;
    if (state.isSigned)
        return fail(Fault::Unsupported,
                    "the container is signed; retiring a key would break the signature");
    const auto held = std::ranges::find(state.packages, keyId, &KeyPackage::keyId);
    if (held == state.packages.end())
        return fail(Fault::Refused, fmt::format("the container holds no token {}", keyId));
    if (is_retired(*held, now))
        return {};
    const std::string date = expiry_date_text(now);
    pugi::xml_node root = state.xml.document_element();
    for (pugi::xml_node node = root.first_child(); node; node = node.next_sibling()) {
        pugi::xml_node key = child(node, "Key");
        if (local_name(node) != "KeyPackage" || key.attribute("Id").value() != keyId)
            continue;
        pugi::xml_node policy = policy_of(key, state.pskcPrefix);
        pugi::xml_node expiry = child(policy, "ExpiryDate");
        if (!expiry) {
            const std::string name = qualified(state.pskcPrefix, "ExpiryDate");
            pugi::xml_node start = child(policy, "StartDate");
            expiry = start ? policy.insert_child_after(name.c_str(), start)
                           : policy.prepend_child(name.c_str());
        }
        expiry.text().set(date.c_str());
    }
    for (KeyPackage& package : state.packages)
        if (package.keyId == keyId)
            package.expiryDate = date;
    return {};
}

} // namespace otp::pskc
