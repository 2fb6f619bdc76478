#include "export/ContainerConversion.h"

#include "export/PskcFile.h"
#include "filelock/FolderLock.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstring>

namespace pskc {
namespace {

std::unexpected<ConversionFailure> refused(Error error)
{
    return std::unexpected(ConversionFailure{std::move(error), false});
}

std::unexpected<ConversionFailure> unwritten(Error error)
{
    return std::unexpected(ConversionFailure{std::move(error), true});
}

std::filesystem::path folder_of(const std::filesystem::path& path)
{
    return path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
}

const KeyPackage* find(const Container& container, std::string_view keyId)
{
    const auto& packages = container.packages();
    const auto it = std::ranges::find(packages, keyId, &KeyPackage::keyId);
    return it == packages.end() ? nullptr : &*it;
}

bool same_token(const KeyPackage& a, const KeyPackage& b)
{
    return a.kind == b.kind && a.hash == b.hash && a.digits == b.digits &&
           a.interval == b.interval && a.secret == b.secret;
}

} // namespace

std::expected<ConversionReport, ConversionFailure>
convert_to_container(const ConversionRequest& request, const Credential& credential,
                     const ContainerSettings& settings)
{
    std::vector<std::filesystem::path> folders;
    for (const auto& source : request.sources)
        folders.push_back(folder_of(source));
    folders.push_back(folder_of(request.out));
    const auto locks = acquire_folder_locks(folders, settings.lockPatience);
    if (!locks) {
        const std::string lockFile = FolderLock::lockFilePath(locks.error().directory).string();
        return unwritten(
            {ErrorKind::Io,
             locks.error().error.kind == FolderLockError::Kind::Busy
                 ? fmt::format("{}: another program is writing the files of its folder", lockFile)
                 : fmt::format("{}: cannot be locked ({})", lockFile,
                               std::strerror(locks.error().error.error))});
    }

    auto conversion = convert_seed_files(request.sources, request.options);
    if (!conversion)
        return refused(conversion.error());

    ConversionReport report;
    report.notes = std::move(conversion->notes);
    std::error_code error;
    report.created = !std::filesystem::exists(std::filesystem::symlink_status(request.out, error));
    auto container = report.created ? Container::create(credential, settings)
                                    : load_container(request.out, credential);
    if (!container)
        return refused(container.error());
    for (const KeyPackage& package : conversion->packages) {
        if (const KeyPackage* held = find(*container, package.keyId)) {
            if (!same_token(*held, package))
                return refused({ErrorKind::Conflict,
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
        if (auto saved = save_container(*container, request.out); !saved)
            return unwritten(saved.error());

    // Read back as a stranger would: from the file, with the same credential.
    auto readBack = load_container(request.out, credential);
    if (!readBack)
        return unwritten(readBack.error());
    for (const KeyPackage& package : conversion->packages) {
        const KeyPackage* stored = find(*readBack, package.keyId);
        if (!stored || !same_token(*stored, package))
            return unwritten({ErrorKind::Io, fmt::format("{}: serial number {} does not read back "
                                                         "as it was converted",
                                                         request.out.string(), package.keyId)});
    }

    if (request.removeSources) {
        for (const auto& source : request.sources) {
            std::filesystem::remove(source, error);
            if (error)
                return unwritten({ErrorKind::Io, fmt::format("{}: cannot be removed ({})",
                                                             source.string(), error.message())});
        }
        report.sourcesRemoved = true;
    }
    return report;
}

} // namespace pskc
