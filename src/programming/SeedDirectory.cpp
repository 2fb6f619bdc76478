#include "programming/SeedDirectory.h"

#include <QCoreApplication>

QString default_seed_directory()
{
    return QCoreApplication::applicationDirPath();
}
