#include "app/SeedRecordsChoice.h"

#include <QSettings>

using namespace otp::core;
using namespace otp::pskc;

namespace otp::app {

SeedRecordsChoice loadSeedRecordsChoice()
{
    const QSettings stored(QStringLiteral("vnotp"), QStringLiteral("vnotp"));
    SeedRecordsChoice choice;
    choice.seedFiles = stored.value(QStringLiteral("records/seedFiles"), true).toBool();
    choice.pskcFile = stored.value(QStringLiteral("records/pskcFile")).toString();
    choice.pskcKeyFile = stored.value(QStringLiteral("records/pskcKeyFile")).toString();
    choice.pskcProfile =
        pskc::parse_profile(
            stored.value(QStringLiteral("records/pskcProfile")).toString().toStdString())
            .value_or(pskc::kDefaultProfile);
    choice.oathUsersFile = stored.value(QStringLiteral("records/oathUsersFile")).toString();
    choice.oathUsersReplace = stored.value(QStringLiteral("records/oathUsersReplace")).toBool();
    // A choice that records nowhere cannot be stored, but a hand-edited file can say so.
    if (!choice.seedFiles && choice.pskcFile.isEmpty() && choice.oathUsersFile.isEmpty())
        choice.seedFiles = true;
    return choice;
}

void saveSeedRecordsChoice(const SeedRecordsChoice& choice)
{
    QSettings stored(QStringLiteral("vnotp"), QStringLiteral("vnotp"));
    stored.setValue(QStringLiteral("records/seedFiles"), choice.seedFiles);
    stored.setValue(QStringLiteral("records/pskcFile"), choice.pskcFile);
    stored.setValue(QStringLiteral("records/pskcKeyFile"), choice.pskcKeyFile);
    stored.setValue(QStringLiteral("records/pskcProfile"),
                    QString::fromUtf8(pskc::profile_name(choice.pskcProfile)));
    stored.setValue(QStringLiteral("records/oathUsersFile"), choice.oathUsersFile);
    stored.setValue(QStringLiteral("records/oathUsersReplace"), choice.oathUsersReplace);
}

} // namespace otp::app
