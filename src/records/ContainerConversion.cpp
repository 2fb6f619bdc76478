#include "records/ContainerConversion.h"

#include "core/SecretFile.h"
#include "pskc/PskcFile.h"
#include "records/FolderLock.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstring>

using namespace otp::core;
using namespace otp::pskc;

namespace otp::records {

using pskc::Container;
using pskc::KeyPackage;

namespace {

std::unexpected<OpError> refused(OpError error)
{
    return std::unexpected(std::move(error));
}

std::unexpected<OpError> unwritten(OpError error)
{
    error.fault = Fault::Unrecorded;
    return std::unexpected(std::move(error));
}

const KeyPackage* find(const Container& container, std::string_view keyId)
{
    const auto& packages = container.packages();
    const auto it = std::ranges::find(packages, keyId, &KeyPackage::keyId);
    return it == packages.end() ? nullptr : &*it;
}

bool same_token(const KeyPackage& a, const KeyPackage& b)
{
    return a.algorithm == b.algorithm && a.hash == b.hash && a.digits == b.digits &&
           a.interval == b.interval && a.secret == b.secret;
}

// Splits the sources into seed files and PSKC containers. A container (one
// protected below this tool's minimum, which is not extended) is read with
// OUT's credential, and its key packages join the seed files' as they are.
OpResult<std::vector<std::filesystem::path>>
take_containers(const std::vector<std::filesystem::path>& sources,
                const pskc::Credential& credential, std::vector<KeyPackage>& packages)
{
    std::vector<std::filesystem::path> seedFiles;
    for (const auto& source : sources) {
        auto bytes = read_file(source, pskc::kMaximumContainerSize);
        if (!bytes || !Container::is_container(*bytes)) {
            seedFiles.push_back(source); // the seed file reader says what is wrong
            continue;
        }
        auto container = Container::parse(*bytes, credential);
        if (!container)
            return refused({container.error().fault, 0,
                            fmt::format("{}: {}", source.string(), container.error().detail)});
        // A retired token stays behind: it must not come back to life in OUT.
        const std::time_t now = std::time(nullptr);
        for (const KeyPackage& package : container->packages())
            if (!pskc::is_retired(package, now))
                packages.push_back(package);
    }
    return seedFiles;
}

} // namespace

OpResult<ConversionReport> convert_to_container(const ConversionRequest& request,
                                                const pskc::Credential& credential,
                                                const pskc::ContainerSettings& settings)
{
    const auto folders =
        lock_conversion_folders(request.sources, request.out,
                                fmt::format("the folder {} of the PSKC file {}",
                                            folder_of(request.out).string(), request.out.string()),
                                request.lockPatience);
    if (!folders)
        return folders.error().fault == Fault::Refused ? refused(folders.error())
                                                       : unwritten(folders.error());
    const FileAt out = folders->out->file(request.out.filename(), request.out);

    std::vector<KeyPackage> fromContainers;
    const auto seedFiles = take_containers(request.sources, credential, fromContainers);
    if (!seedFiles)
        return std::unexpected(seedFiles.error());
    auto conversion = convert_seed_files(*seedFiles, request.options);
    if (!conversion)
        return refused(conversion.error());
    for (KeyPackage& package : fromContainers) {
        const auto same =
            std::ranges::find(conversion->packages, package.keyId, &KeyPackage::keyId);
        if (same == conversion->packages.end())
            conversion->packages.push_back(std::move(package));
        else if (!same_token(*same, package))
            return refused({Fault::Conflict, 0,
                            fmt::format("serial number {} is two different tokens in the sources",
                                        package.keyId)});
    }

    ConversionReport report;
    report.notes = std::move(conversion->notes);
    std::error_code error;
    const auto exists = file_exists(out);
    if (!exists)
        return refused(exists.error());
    report.created = !*exists;
    if (!report.created)
        if (auto safe = check_private_file(out, true); !safe)
            return refused(safe.error());
    auto container = report.created ? Container::create(credential, settings)
                                    : pskc::load_container(out, credential);
    if (!container)
        return refused(container.error());
    if (!report.created)
        if (auto extensible =
                pskc::check_extensible(*container, request.out, pskc::wanted_profile(settings));
            !extensible)
            return refused(extensible.error());
    for (const KeyPackage& package : conversion->packages) {
        if (const KeyPackage* held = find(*container, package.keyId)) {
            if (!same_token(*held, package))
                return refused({Fault::Conflict, 0,
                                fmt::format("{}: already holds serial number {} as another token",
                                            request.out.string(), package.keyId)});
            report.alreadyPresent.push_back(package.keyId);
            continue;
        }
        if (auto added = container->add(package); !added)
            return refused(added.error());
        report.added.push_back(package.keyId);
    }
    if (report.created || !report.added.empty())
        if (auto saved = pskc::save_container(*container, out); !saved)
            return unwritten(saved.error());

    // Read back as a stranger would: from the file, with the same credential.
    auto readBack = pskc::load_container(out, credential);
    if (!readBack)
        return unwritten(readBack.error());
    for (const KeyPackage& package : conversion->packages) {
        const KeyPackage* stored = find(*readBack, package.keyId);
        if (!stored || !same_token(*stored, package))
            return unwritten({Fault::Io, 0,
                              fmt::format("{}: serial number {} does not read back "
                                          "as it was converted",
                                          request.out.string(), package.keyId)});
    }

    if (request.removeSources) {
        for (const auto& source : request.sources) {
            std::filesystem::remove(source, error);
            if (error)
                return unwritten(
                    {Fault::Io, 0,
                     fmt::format("{}: cannot be removed ({})", source.string(), error.message())});
        }
        report.sourcesRemoved = true;
    }
    return report;
}

} // namespace otp::records
