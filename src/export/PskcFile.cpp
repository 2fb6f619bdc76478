#include "export/PskcFile.h"

#include "export/SecretFile.h"
#include "filelock/FolderLock.h"

#include <fmt/format.h>

#include <cstring>
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

std::filesystem::path folder_of(const std::filesystem::path& path)
{
    return path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
}

// The one place where a container update takes the lock it shares with the
// clear-text seed files, so that concurrent writers keep each other's tokens.
std::expected<FolderLock, Error> lock_for_update(const std::filesystem::path& path,
                                                 std::chrono::milliseconds patience)
{
    auto lock = FolderLock::acquire(folder_of(path), patience);
    if (lock)
        return std::move(*lock);
    const std::string lockFile = FolderLock::lockFilePath(folder_of(path)).string();
    switch (lock.error().kind) {
    case FolderLockError::Kind::Busy:
        return std::unexpected(Error{
            ErrorKind::Io, fmt::format("{}: another program is writing the files of its folder "
                                       "(it holds {})",
                                       path.string(), lockFile)});
    case FolderLockError::Kind::CannotOpen:
    case FolderLockError::Kind::CannotLock:
        break;
    }
    return std::unexpected(
        Error{ErrorKind::Io, fmt::format("{}: cannot be locked: {} ({})", path.string(), lockFile,
                                         std::strerror(lock.error().error))});
}

// The file's bytes, or none when there is no file.
std::expected<std::optional<std::string>, Error> read_if_present(const std::filesystem::path& path)
{
    std::error_code error;
    const bool exists = std::filesystem::exists(std::filesystem::symlink_status(path, error));
    if (error && error != std::errc::no_such_file_or_directory)
        return std::unexpected(Error{ErrorKind::Io, fmt::format("{}: cannot be examined ({})",
                                                                path.string(), error.message())});
    if (!exists)
        return std::optional<std::string>();
    auto bytes = read_file(path, kMaximumContainerSize);
    if (!bytes)
        return std::unexpected(bytes.error());
    return std::optional<std::string>(std::move(*bytes));
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

ContainerUpdate::ContainerUpdate(std::filesystem::path path, Credential credential,
                                 ContainerSettings settings, Container container,
                                 std::optional<std::string> onDisk)
    : m_path(std::move(path)), m_credential(std::move(credential)), m_settings(settings),
      m_container(std::move(container)), m_onDisk(std::move(onDisk))
{
}

std::expected<ContainerUpdate, Error> ContainerUpdate::open(const std::filesystem::path& path,
                                                            const Credential& credential,
                                                            const ContainerSettings& settings)
{
    auto lock = lock_for_update(path, settings.lockPatience);
    if (!lock)
        return std::unexpected(lock.error());
    auto bytes = read_if_present(path);
    if (!bytes)
        return std::unexpected(bytes.error());
    auto container =
        *bytes ? Container::parse(**bytes, credential) : Container::create(credential, settings);
    if (!container)
        return std::unexpected(in_file(path, container.error()));
    return ContainerUpdate(path, credential, settings, std::move(*container), std::move(*bytes));
}

std::expected<void, Error> ContainerUpdate::add(const KeyPackage& package)
{
    auto lock = lock_for_update(m_path, m_settings.lockPatience);
    if (!lock)
        return std::unexpected(lock.error());
    auto bytes = read_if_present(m_path);
    if (!bytes)
        return std::unexpected(bytes.error());
    if (*bytes != m_onDisk) {
        // Another writer replaced or removed the file since we last saw it.
        auto current = *bytes ? Container::parse(**bytes, m_credential)
                              : Container::create(m_credential, m_settings);
        if (!current)
            return std::unexpected(in_file(m_path, current.error()));
        m_container = std::move(*current);
        m_onDisk = std::move(*bytes);
    }
    if (auto added = m_container.add(package); !added)
        return std::unexpected(in_file(m_path, added.error()));
    std::string xml = m_container.to_xml();
    if (auto saved = replace_file(m_path, xml); !saved) {
        m_container.remove_added(package.keyId);
        return saved;
    }
    m_onDisk = std::move(xml);
    return {};
}

} // namespace pskc
