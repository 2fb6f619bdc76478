#include "export/PskcFile.h"

#include "export/SecretFile.h"

#include <fmt/format.h>

#include <system_error>

namespace pskc {
namespace {

Error in_file(const std::filesystem::path& path, Error error)
{
    // Errors about the file itself already name it.
    if (error.kind != ErrorKind::Io)
        error.message = fmt::format("{}: {}", path.string(), error.message);
    return error;
}

// The one place where concurrent writers of seed files are kept apart. The
// advisory lock is programming's, shared with the clear-text seed files; until
// it is linked in here, two processes extending the same container at once
// can lose one's tokens.
std::expected<UpdateLock, Error> lock_for_update(const std::filesystem::path& /*path*/)
{
    return UpdateLock{};
}

} // namespace

std::expected<Container, Error> load_container(const std::filesystem::path& path,
                                               const Credential& credential)
{
    auto xml = read_file(path, kMaximumContainerSize);
    if (!xml)
        return std::unexpected(in_file(path, xml.error()));
    auto container = Container::parse(*xml, credential);
    if (!container)
        return std::unexpected(in_file(path, container.error()));
    return container;
}

std::expected<void, Error> save_container(const Container& container,
                                          const std::filesystem::path& path)
{
    return replace_file(path, container.to_xml());
}

ContainerUpdate::ContainerUpdate(std::filesystem::path path, Container container, bool fileExists,
                                 UpdateLock lock)
    : m_path(std::move(path)), m_container(std::move(container)), m_fileExists(fileExists),
      m_lock(lock)
{
}

std::expected<ContainerUpdate, Error> ContainerUpdate::open(const std::filesystem::path& path,
                                                            const Credential& credential,
                                                            const ContainerSettings& settings)
{
    auto lock = lock_for_update(path);
    if (!lock)
        return std::unexpected(lock.error());
    std::error_code error;
    const bool exists = std::filesystem::exists(std::filesystem::symlink_status(path, error));
    if (error && error != std::errc::no_such_file_or_directory)
        return std::unexpected(Error{ErrorKind::Io, fmt::format("{}: cannot be examined ({})",
                                                                path.string(), error.message())});
    auto container =
        exists ? load_container(path, credential) : Container::create(credential, settings);
    if (!container)
        return std::unexpected(exists ? container.error() : in_file(path, container.error()));
    return ContainerUpdate(path, std::move(*container), exists, *lock);
}

std::expected<void, Error> ContainerUpdate::add(const KeyPackage& package)
{
    if (auto added = m_container.add(package); !added)
        return std::unexpected(in_file(m_path, added.error()));
    if (auto saved = save_container(m_container, m_path); !saved) {
        m_container.remove_added(package.keyId);
        return saved;
    }
    m_fileExists = true;
    return {};
}

} // namespace pskc
