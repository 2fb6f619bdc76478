#include "records/Destinations.h"

using namespace otp::core;
using namespace otp::pskc;

namespace otp::records {

namespace {

OpResult<void> open_folders_of(Recorder& recorder, bool now)
{
    if (!now)
        return {};
    if (auto folders = recorder.open_folders(); !folders)
        return std::unexpected(folders.error());
    return {};
}

} // namespace

OpResult<std::unique_ptr<Recorders>> open_recorders(const Destinations& destinations)
{
    std::unique_ptr<Recorders> recorders(new Recorders);
    if (destinations.seedFolder) {
        recorders->m_seedFiles.emplace(*destinations.seedFolder, destinations.csvWayOut);
        if (auto opened = open_folders_of(*recorders->m_seedFiles, destinations.openFoldersNow);
            !opened)
            return std::unexpected(opened.error());
        recorders->m_all.push_back(&*recorders->m_seedFiles);
    }
    if (destinations.pskc) {
        auto pskc = PskcRecorder::open(destinations.pskc->file, destinations.pskc->credential,
                                       destinations.pskc->settings);
        if (!pskc)
            return std::unexpected(pskc.error());
        recorders->m_pskc.emplace(std::move(*pskc));
        recorders->m_credential = destinations.pskc->credential;
        recorders->m_all.push_back(&*recorders->m_pskc);
    }
    if (destinations.oathUsers) {
        recorders->m_oathUsers.emplace(destinations.oathUsers->file,
                                       destinations.oathUsers->replace);
        if (auto opened = open_folders_of(*recorders->m_oathUsers, destinations.openFoldersNow);
            !opened)
            return std::unexpected(opened.error());
        recorders->m_all.push_back(&*recorders->m_oathUsers);
    }
    return recorders;
}

} // namespace otp::records
