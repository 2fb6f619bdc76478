#pragma once

// PSKC containers as files: read and verified, written owner-only and
// replaced atomically, and extended one token at a time while the tool
// programs a key.

#include "core/SecretFile.h"
#include "pskc/PskcContainer.h"

#include <expected>
#include <filesystem>
#include <optional>
#include <string>

namespace otp::pskc {

// Large enough for a hundred thousand key packages.
inline constexpr std::size_t kMaximumContainerSize = 256u << 20;

core::OpResult<Container> load_container(const std::filesystem::path& path,
                                         const Credential& credential);
// A destination container, read as a seed-holding file (core/SecretFile.h).
core::OpResult<Container> load_container(const core::FileAt& file, const Credential& credential);
core::OpResult<void> save_container(const Container& container, const core::FileAt& file);

// Refuses to add to the file at `path` when its container is protected below
// this tool's own minimum (Container::weak_protection): a new seed would be
// only as safe as that weak key. The message says how to move its tokens
// into a new file; reading the file stays allowed. With a profile `wanted`,
// a container of another profile is refused too: a file is extended in its
// own profile only, and `pskc convert` moves its tokens into a new one.
// The profile an existing file must have: the one asked for by name, else any.
std::optional<Profile> wanted_profile(const ContainerSettings& settings);
core::OpResult<void> check_extensible(const Container& container, const std::filesystem::path& path,
                                      std::optional<Profile> wanted = std::nullopt);

// Adds tokens to a container file as they are programmed. Opening reads,
// decrypts and verifies an existing file, or prepares a new container when
// there is none; a file that fails is left as it is and nothing is added to
// it. Each add replaces the file at once, so a token programmed is a token
// recorded.
//
// The caller holds the seed files' lock of the file's folder
// (records/FolderLock.h) around every add, so that the seed files beside the
// container and other writers of it are serialised with it. An add that finds
// the file changed by another writer since this object last saw it reads it
// afresh first, so neither writer's tokens are lost; one that finds it gone
// starts a new container, as the seed files do.
class ContainerUpdate
{
public:
    // `file` lies in a folder held open (core/OpenFolder.h) for this
    // object's life.
    static core::OpResult<ContainerUpdate> open(const core::FileAt& file,
                                                const Credential& credential,
                                                const ContainerSettings& settings = {});

    const Container& container() const { return m_container; }
    // False while a new container has not been written yet.
    bool fileExists() const { return m_onDisk.has_value(); }

    // Reads the file again when another writer changed it, then answers
    // whether a key package with this id can be added: not to a file whose
    // protection is weak (check_extensible), nor what Container::can_add
    // refuses.
    core::OpResult<void> can_add(std::string_view keyId);
    // On failure the file stays as it was.
    core::OpResult<void> add(const KeyPackage& package);

private:
    core::OpResult<void> refresh();
    ContainerUpdate(core::FileAt file, Credential credential, ContainerSettings settings,
                    Container container, std::optional<std::string> onDisk);

    core::FileAt m_file;
    Credential m_credential;
    ContainerSettings m_settings;
    Container m_container;
    // The file's bytes as this object read or wrote them; none while there is no file.
    std::optional<std::string> m_onDisk;
};

} // namespace otp::pskc
