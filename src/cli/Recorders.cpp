#include "cli/Recorders.h"

#include "core/SecretFile.h"

#include <unistd.h>

OpResult<std::unique_ptr<Recorders>> Recorders::open(const TokenOptions& options)
{
    std::unique_ptr<Recorders> recorders(new Recorders);
    if (!options.noPlaintext) {
        // A folder that is missing or read-only would only be found out after
        // the key took the token; a typing mistake in --out-dir must not cost
        // a token whose seed then has to be copied by hand.
        const std::filesystem::path folder = seed_directory(options);
        std::error_code error;
        if (!std::filesystem::is_directory(folder, error) ||
            ::access(folder.c_str(), W_OK | X_OK) != 0)
            return fail(Fault::Refused, "the seed folder " + folder.string() +
                                            " does not exist or cannot be written");
        if (auto safe = check_private_folder(folder); !safe)
            return std::unexpected(safe.error());
        recorders->m_seedFiles.emplace(folder);
        recorders->m_all.push_back(&*recorders->m_seedFiles);
    }
    if (!options.pskcFile.empty()) {
        auto credential = read_pskc_credential(options.pskcCredential, options.pskcFile);
        if (!credential)
            return std::unexpected(credential.error());
        auto pskc = PskcRecorder::open(options.pskcFile, *credential,
                                       pskc_settings(options.pskcCredential));
        if (!pskc)
            return std::unexpected(pskc.error());
        recorders->m_pskc.emplace(std::move(*pskc));
        recorders->m_credential = std::move(*credential);
        recorders->m_all.push_back(&*recorders->m_pskc);
    }
    if (!options.oathUsersFile.empty()) {
        recorders->m_oathUsers.emplace(options.oathUsersFile, options.oathUsersReplace);
        recorders->m_all.push_back(&*recorders->m_oathUsers);
    }
    return recorders;
}
