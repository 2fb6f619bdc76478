#include "pskc/PskcFile.h"

#include "core/SecretFile.h"

#include <fmt/format.h>

#include <cstring>
#include <system_error>

using namespace otp::core;

namespace otp::pskc {
namespace {

OpError in_file(const std::filesystem::path& path, OpError error)
{
    // Errors about the file itself already name it.
    if (!error.detail.starts_with(path.string() + ":"))
        error.detail = fmt::format("{}: {}", path.string(), error.detail);
    return error;
}

} // namespace

std::optional<Profile> wanted_profile(const ContainerSettings& settings)
{
    return settings.requireProfile ? std::optional(settings.profile) : std::nullopt;
}

OpResult<Container> load_container(const std::filesystem::path& path, const Credential& credential)
{
    auto xml = read_file(path, kMaximumContainerSize);
    if (!xml)
        return std::unexpected(in_file(path, xml.error()));
    auto container = Container::parse(*xml, credential);
    if (!container)
        return std::unexpected(in_file(path, container.error()));
    return container;
}

OpResult<Container> load_container(const FileAt& file, const Credential& credential)
{
    auto xml = read_private_file(file, kMaximumContainerSize);
    if (!xml)
        return std::unexpected(in_file(file.shown, xml.error()));
    if (!*xml)
        return fail(Fault::Io, fmt::format("{}: cannot be read ({})", file.shown.string(),
                                           std::strerror(ENOENT)));
    auto container = Container::parse(**xml, credential);
    if (!container)
        return std::unexpected(in_file(file.shown, container.error()));
    return container;
}

OpResult<void> save_container(const Container& container, const FileAt& file)
{
    return replace_private_file(file, container.to_xml());
}

OpResult<void> check_extensible(const Container& container, const std::filesystem::path& path,
                                std::optional<Profile> wanted)
{
    const auto profile = container.profile();
    if (wanted && profile != wanted)
        return fail(Fault::Refused,
                    fmt::format("{}: it is {} ({}), not the {} profile asked for; it is extended "
                                "in its own profile only. Leave out --pskc-profile to add to it, "
                                "or move its tokens into a new file with `vnotp-cli pskc convert "
                                "{} --out NEW.pskc --pskc-profile {}`.",
                                path.string(),
                                profile ? "a " + std::string(profile_name(*profile)) + " file"
                                        : std::string("a file of its own algorithms"),
                                container.algorithms(), profile_name(*wanted), path.string(),
                                profile_name(*wanted)));
    const std::string weak = container.weak_protection();
    if (weak.empty())
        return {};
    return fail(Fault::Refused,
                fmt::format("{}: its password protects the seeds only weakly ({}), so no token "
                            "is added to it. Move its tokens into a new file with "
                            "`vnotp-cli pskc convert {} --out NEW.pskc` and add to that one.",
                            path.string(), weak, path.string()));
}

ContainerUpdate::ContainerUpdate(FileAt file, Credential credential, ContainerSettings settings,
                                 Container container, std::optional<std::string> onDisk)
    : m_file(std::move(file)), m_credential(std::move(credential)), m_settings(settings),
      m_container(std::move(container)), m_onDisk(std::move(onDisk))
{
}

OpResult<ContainerUpdate> ContainerUpdate::open(const FileAt& file, const Credential& credential,
                                                const ContainerSettings& settings)
{
    const std::filesystem::path& path = file.shown;
    auto bytes = read_private_file(file, kMaximumContainerSize);
    if (!bytes)
        return std::unexpected(bytes.error());
    auto container =
        *bytes ? Container::parse(**bytes, credential) : Container::create(credential, settings);
    if (!container)
        return std::unexpected(in_file(path, container.error()));
    return ContainerUpdate(file, credential, settings, std::move(*container), std::move(*bytes));
}

OpResult<void> ContainerUpdate::refresh()
{
    auto bytes = read_private_file(m_file, kMaximumContainerSize);
    if (!bytes)
        return std::unexpected(bytes.error());
    if (*bytes == m_onDisk)
        return {};
    // Another writer replaced or removed the file since we last saw it.
    auto current = *bytes ? Container::parse(**bytes, m_credential)
                          : Container::create(m_credential, m_settings);
    if (!current)
        return std::unexpected(in_file(m_file.shown, current.error()));
    m_container = std::move(*current);
    m_onDisk = std::move(*bytes);
    return {};
}

OpResult<void> ContainerUpdate::can_add(std::string_view keyId)
{
    if (auto refreshed = refresh(); !refreshed)
        return refreshed;
    if (auto extensible = check_extensible(m_container, m_file.shown, wanted_profile(m_settings));
        !extensible)
        return extensible;
    if (auto addable = m_container.can_add(keyId); !addable)
        return std::unexpected(in_file(m_file.shown, addable.error()));
    return {};
}

OpResult<void> ContainerUpdate::add(const KeyPackage& package)
{
    if (auto addable = can_add(package.keyId); !addable)
        return addable;
    if (auto added = m_container.add(package); !added)
        return std::unexpected(in_file(m_file.shown, added.error()));
    std::string xml = m_container.to_xml();
    if (auto saved = replace_private_file(m_file, xml); !saved) {
        m_container.remove_added(package.keyId);
        return saved;
    }
    m_onDisk = std::move(xml);
    return {};
}

} // namespace otp::pskc
