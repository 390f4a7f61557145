#include "manager/client/LUMLog.h"

Q_LOGGING_CATEGORY(lcManager, "pellmere.manager")

namespace LUMLog {

void debug(const char *className, const QString &operation, const QString &text)
{
    qCDebug(lcManager).noquote()
        << QStringLiteral("D - %1(%2) - %3").arg(QString::fromLatin1(className), operation, text);
}

} // namespace LUMLog
