#include "programming/SeedDirectory.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

QString choose_seed_directory(const SeedDirectoryInputs& inputs)
{
    if (!inputs.overrideDir.isEmpty())
        return QDir::cleanPath(inputs.overrideDir);
    if (!inputs.executableDir.isEmpty() && inputs.isWritable &&
        inputs.isWritable(inputs.executableDir))
        return inputs.executableDir;
    const QString dataHome = QDir::isAbsolutePath(inputs.xdgDataHome)
                                 ? inputs.xdgDataHome
                                 : inputs.home + QStringLiteral("/.local/share");
    return QDir::cleanPath(dataHome + QStringLiteral("/vnotp"));
}

namespace {

// mkdir with mode 0700 leaves no moment in which the folder is open to others,
// as a chmod after QDir::mkpath would.
void createOwnerOnly(const QString& path)
{
    if (QFileInfo::exists(path))
        return;
    QDir().mkpath(QFileInfo(path).absolutePath());
    ::mkdir(QFile::encodeName(path).constData(), S_IRWXU);
}

} // namespace

QString default_seed_directory()
{
    const SeedDirectoryInputs inputs{
        .overrideDir = qEnvironmentVariable("VNOTP_SEED_DIR"),
        .executableDir = QCoreApplication::applicationDirPath(),
        .xdgDataHome = qEnvironmentVariable("XDG_DATA_HOME"),
        .home = QDir::homePath(),
        .isWritable = [](const QString& dir) { return QFileInfo(dir).isWritable(); },
    };
    const QString directory = choose_seed_directory(inputs);
    if (directory != inputs.executableDir)
        createOwnerOnly(directory);
    return directory;
}
