#pragma once

// `pskc convert`: the tool's clear-text seed files into one encrypted
// container, created or extended, and the clear-text files removed once the
// container has been read back and every secret found equal.

#include "pskc/PskcContainer.h"
#include "records/FolderLock.h"
#include "records/SeedConversion.h"

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace otp::records {

struct ConversionRequest
{
    std::vector<std::filesystem::path> sources;
    std::filesystem::path out;
    ConversionOptions options;
    bool removeSources = false;
    // How long to wait for another writer of the folders' files.
    std::chrono::milliseconds lockPatience = FolderLock::kDefaultPatience;
};

struct ConversionReport
{
    std::vector<std::string> added;          // serial numbers new in the container
    std::vector<std::string> alreadyPresent; // serial numbers it held with the same secret
    std::vector<std::string> notes;          // from the conversion (guessed time steps)
    bool created = false;
    bool sourcesRemoved = false;
};

// Holds the seed files' locks of every folder concerned from reading the
// sources to removing them, so that no token recorded meanwhile is lost.
// Fails with the input's fault when the input was refused and nothing was
// written; with Unrecorded when the container could not be written or read
// back equal, or a source could not be removed (every source not yet removed
// is kept).
core::OpResult<ConversionReport> convert_to_container(const ConversionRequest& request,
                                                      const pskc::Credential& credential,
                                                      const pskc::ContainerSettings& settings = {});

} // namespace otp::records
