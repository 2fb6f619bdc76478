#include "records/OathUsersConversion.h"

#include "core/PrintableText.h"
#include "core/TokenText.h"
#include "pskc/PskcFile.h"
#include "records/OathUsersFile.h"

#include <fmt/format.h>

#include <algorithm>
#include <fstream>

using namespace otp::core;
using namespace otp::pskc;

namespace otp::records {

namespace {

// The tokens of every source, one per serial number.
OpResult<std::vector<pskc::KeyPackage>> read_sources(const OathUsersConversionRequest& request,
                                                     const std::optional<pskc::Credential>& key,
                                                     std::vector<std::string>& notes)
{
    std::vector<std::filesystem::path> seedFiles;
    std::vector<std::filesystem::path> containers;
    for (const auto& source : request.sources)
        (is_pskc_source(source) ? containers : seedFiles).push_back(source);

    std::vector<pskc::KeyPackage> packages;
    if (!seedFiles.empty()) {
        auto conversion = convert_seed_files(seedFiles, request.options);
        if (!conversion)
            return std::unexpected(conversion.error());
        packages = std::move(conversion->packages);
        notes = std::move(conversion->notes);
    }
    for (const auto& path : containers) {
        if (!key)
            return fail(
                Fault::Refused,
                fmt::format("{} is a PSKC file: its password or key is needed", path.string()));
        auto container = pskc::load_container(path, *key);
        if (!container)
            return std::unexpected(container.error());
        for (const pskc::KeyPackage& package : container->packages()) {
            // A retired token must not log in again.
            if (pskc::is_retired(package, std::time(nullptr)))
                continue;
            const auto held = std::ranges::find(packages, package.keyId, &pskc::KeyPackage::keyId);
            if (held == packages.end())
                packages.push_back(package);
            else if (held->secret != package.secret || held->algorithm != package.algorithm)
                return fail(Fault::Conflict,
                            fmt::format("serial number {} is two different tokens (one of them "
                                        "in {})",
                                        package.keyId, path.string()));
        }
    }
    return packages;
}

} // namespace

bool is_pskc_source(const std::filesystem::path& source)
{
    // The root element comes first; a seed file never names it.
    std::ifstream in(source, std::ios::binary);
    std::string start(4096, '\0');
    in.read(start.data(), static_cast<std::streamsize>(start.size()));
    start.resize(static_cast<std::size_t>(in.gcount()));
    const bool pskc = start.find("KeyContainer") != std::string::npos;
    wipe(start.data(), start.size());
    return pskc;
}

OpResult<OathUsersConversionReport>
convert_to_oath_users(const OathUsersConversionRequest& request,
                      const std::optional<pskc::Credential>& credential)
{
    const auto folders =
        lock_conversion_folders(request.sources, request.out,
                                fmt::format("the folder {} of the pam_oath users file {}",
                                            folder_of(request.out).string(), request.out.string()),
                                request.lockPatience);
    if (!folders)
        return folders.error().fault == Fault::Refused
                   ? std::unexpected(folders.error())
                   : fail(Fault::Unrecorded, folders.error().detail);
    const FileAt out = folders->out->file(request.out.filename(), request.out);

    OathUsersConversionReport report;
    auto packages = read_sources(request, credential, report.notes);
    if (!packages)
        return std::unexpected(packages.error());

    std::vector<OathUsersLine> lines;
    for (const pskc::KeyPackage& package : *packages) {
        const int digits = package.digits.value_or(request.options.digits.value_or(0));
        if (digits == 0)
            return fail(Fault::UnknownDigits,
                        fmt::format("the number of digits of {} is unknown; give the number of "
                                    "digits",
                                    package.keyId));
        const TokenDescription token{.algorithm = package.algorithm,
                                     .hash = package.hash,
                                     .digits = digits,
                                     .interval = package.interval.value_or(30),
                                     .serial = package.keyId,
                                     .seed = package.secret,
                                     .user = package.userId};
        // A UserId is not MAC-protected: it gets the refusals of --user.
        if (auto name = check_user_name(package.userId); !name)
            return fail(Fault::Refused,
                        fmt::format("token {}, user \"{}\": {}", printable(package.keyId),
                                    printable(package.userId), name.error().detail));
        if (auto format = check_oath_token(token, request.out); !format)
            return std::unexpected(format.error());
        lines.push_back(oath_users_line(token, package.counter.value_or(0)));
        report.added.push_back(package.keyId);
    }
    if (auto checked = check_oath_users_file(out, lines, request.replace); !checked)
        return std::unexpected(checked.error());
    if (auto written = write_oath_users_file(out, lines, request.replace); !written)
        return fail(Fault::Unrecorded, written.error().detail);
    return report;
}

} // namespace otp::records
