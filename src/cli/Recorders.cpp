#include "cli/Recorders.h"

#include <QFileInfo>

std::expected<std::unique_ptr<Recorders>, std::string> Recorders::open(const TokenOptions& options)
{
    std::unique_ptr<Recorders> recorders(new Recorders);
    if (!options.noPlaintext) {
        // A folder that is missing or read-only would only be found out after
        // the key took the token; a typing mistake in --out-dir must not cost
        // a token whose seed then has to be copied by hand.
        const QString folder = seed_directory(options);
        const QFileInfo info(folder);
        if (!info.isDir() || !info.isWritable())
            return std::unexpected("the seed folder " + folder.toStdString() +
                                   " does not exist or cannot be written");
        recorders->m_seedFiles.emplace(folder);
        recorders->m_all.push_back(&*recorders->m_seedFiles);
    }
    if (!options.pskcFile.empty()) {
        auto credential = read_pskc_credential(options.pskcCredential, options.pskcFile);
        if (!credential)
            return std::unexpected(credential.error().message);
        auto pskc = PskcRecorder::open(options.pskcFile, *credential);
        if (!pskc)
            return std::unexpected(pskc.error().message);
        recorders->m_pskc.emplace(std::move(*pskc));
        recorders->m_all.push_back(&*recorders->m_pskc);
    }
    return recorders;
}

void Recorders::setKeySerial(const std::string& serial)
{
    if (m_pskc)
        m_pskc->setKeySerial(serial);
}

QStringList Recorders::destinations(const SeedFileToken& token) const
{
    QStringList paths;
    for (const TokenRecorder* recorder : m_all)
        paths += recorder->destinations(token);
    return paths;
}
