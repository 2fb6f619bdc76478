#pragma once

// `pskc convert`: the tool's clear-text seed files into one encrypted
// container, created or extended, and the clear-text files removed once the
// container has been read back and every secret found equal.

#include "export/PskcContainer.h"
#include "export/SeedConversion.h"

#include <expected>
#include <filesystem>
#include <string>
#include <vector>

namespace pskc {

struct ConversionRequest
{
    std::vector<std::filesystem::path> sources;
    std::filesystem::path out;
    ConversionOptions options;
    bool removeSources = false;
};

struct ConversionReport
{
    std::vector<std::string> added;          // serial numbers new in the container
    std::vector<std::string> alreadyPresent; // serial numbers it held with the same secret
    std::vector<std::string> notes;          // from the conversion (guessed time steps)
    bool created = false;
    bool sourcesRemoved = false;
};

struct ConversionFailure
{
    Error error;
    // False: the input was refused and nothing was written. True: the
    // container could not be written or read back equal, or a source could
    // not be removed; every source not yet removed is kept.
    bool writing = false;
};

// Holds the seed files' locks of every folder concerned from reading the
// sources to removing them, so that no token recorded meanwhile is lost.
std::expected<ConversionReport, ConversionFailure>
convert_to_container(const ConversionRequest& request, const Credential& credential,
                     const ContainerSettings& settings = {});

} // namespace pskc
