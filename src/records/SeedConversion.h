#pragma once

// Turns the tool's clear-text seed files into key packages: one per serial
// number, whatever mix of hseeds.csv, tseeds.csv, hseeds.xml and tseeds.xml
// it comes from.

#include "core/Error.h"
#include "pskc/KeyPackage.h"
#include "records/SeedFileReader.h"

#include <expected>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace otp::records {

struct ConversionOptions
{
    // For tokens no XML file gives the digits of (the CSV files have none).
    std::optional<int> digits;
};

struct Conversion
{
    std::vector<pskc::KeyPackage> packages; // in the order their serials first appear
    // What the user should know, such as tokens whose time step is a guess.
    std::vector<std::string> notes;
};

// Records of one serial number must agree: the same algorithm, seed, hash and
// digits. A TOTP time step comes from tseeds.csv, else from tseeds.xml's
// header (noted, since that header always says 30).
core::OpResult<Conversion> merge_seed_records(std::span<const SeedRecord> records,
                                              const ConversionOptions& options);

core::OpResult<Conversion> convert_seed_files(std::span<const std::filesystem::path> files,
                                              const ConversionOptions& options);

} // namespace otp::records
