#include "cli/Recorders.h"

namespace {

// A folder that is missing, read-only or open to others would only be found
// out when the first key is in hand: it is refused before one is looked for.
OpResult<void> open_now(Recorder& recorder)
{
    if (auto folders = recorder.open_folders(); !folders)
        return std::unexpected(folders.error());
    return {};
}

} // namespace

OpResult<std::unique_ptr<Recorders>> Recorders::open(const TokenOptions& options)
{
    std::unique_ptr<Recorders> recorders(new Recorders);
    if (!options.noPlaintext) {
        recorders->m_seedFiles.emplace(seed_directory(options));
        if (auto opened = open_now(*recorders->m_seedFiles); !opened)
            return std::unexpected(opened.error());
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
        if (auto opened = open_now(*recorders->m_oathUsers); !opened)
            return std::unexpected(opened.error());
        recorders->m_all.push_back(&*recorders->m_oathUsers);
    }
    return recorders;
}
