#include "ui/AppIcon.h"

// The resource file is compiled into a static library, so it must be
// registered by name before its first use.
static void registerResources()
{
    Q_INIT_RESOURCE(vnotp);
}

QIcon appIcon()
{
    static const bool registered = (registerResources(), true);
    (void)registered;
    return QIcon(QStringLiteral(":/icon128.png"));
}
