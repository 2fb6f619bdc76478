#include "programming/TokenRecorder.h"

#include "programming/NewToken.h"

#include <QDir>

std::expected<void, QString> SeedFileRecorder::record(const SeedFileToken& token)
{
    const QString failures = export_seed_files(m_directory, token);
    if (!failures.isEmpty())
        return std::unexpected(failures);
    return {};
}

QStringList SeedFileRecorder::destinations(const SeedFileToken& token) const
{
    const QString xml = seed_xml_path(token.algorithm, m_directory);
    return {QDir::toNativeSeparators(xml), QDir::toNativeSeparators(seed_csv_path(xml))};
}
