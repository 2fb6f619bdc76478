#pragma once

// PSKC containers as files: read and verified, written owner-only and
// replaced atomically, and extended one token at a time while the tool
// programs a key.

#include "export/PskcContainer.h"

#include <expected>
#include <filesystem>

namespace pskc {

// Large enough for a hundred thousand key packages.
inline constexpr std::size_t kMaximumContainerSize = 256u << 20;

std::expected<Container, Error> load_container(const std::filesystem::path& path,
                                               const Credential& credential);
std::expected<void, Error> save_container(const Container& container,
                                          const std::filesystem::path& path);

// Stands for the advisory lock on the seed file while it is read and
// rewritten; see lock_for_update() in PskcFile.cpp.
struct UpdateLock
{
};

// Adds tokens to a container file as they are programmed. Opening reads,
// decrypts and verifies an existing file, or prepares a new container when
// there is none; a file that fails is left as it is and nothing is added to
// it. Each add replaces the file at once, so a token programmed is a token
// recorded.
class ContainerUpdate
{
public:
    static std::expected<ContainerUpdate, Error> open(const std::filesystem::path& path,
                                                      const Credential& credential,
                                                      const ContainerSettings& settings = {});

    const Container& container() const { return m_container; }
    // False while a new container has not been written yet.
    bool fileExists() const { return m_fileExists; }

    // On failure the file and the container stay as they were.
    std::expected<void, Error> add(const KeyPackage& package);

private:
    ContainerUpdate(std::filesystem::path path, Container container, bool fileExists,
                    UpdateLock lock);

    std::filesystem::path m_path;
    Container m_container;
    bool m_fileExists;
    UpdateLock m_lock;
};

} // namespace pskc
