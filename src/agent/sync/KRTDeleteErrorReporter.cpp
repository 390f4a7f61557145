#include "agent/sync/KRTDeleteErrorReporter.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("KRTDeleteErrorReporter", text);
}

} // namespace

void KRTDeleteErrorReporter::willProcessPath(const QString &path)
{
    debugMessage(QStringLiteral("KRTDeleteErrorReporter: deleting \"%1\"...").arg(path));
}

std::optional<bool> KRTDeleteErrorReporter::shouldProceedAfterErrorRemovingItem(int errorNumber, const QString &path)
{
    if (endJobOnLostConnection(errorNumber)) {
        incrementErrorCount();
        logMessage(tr("Unable to delete \"%1\" - %2.").arg(path, errorText(errorNumber)));
        return false;
    }
    return shouldProceedAfterError({ { kErrorKey, errorText(errorNumber) }, { kPathKey, path } });
}

std::optional<bool> KRTDeleteErrorReporter::shouldProceedAfterError(const QVariantMap &errorInfo)
{
    const QString path = errorInfo.value(kPathKey).toString();
    const QString error = errorInfo.value(kErrorKey).toString();
    incrementErrorCount();
    logMessage(tr("Unable to delete \"%1\" - %2.").arg(path, error));
    if (errorHandling() != 0)
        return errorHandling() > 0;
    // A continuous job asks nobody (see KRTCopyErrorReporter): logged, and the job goes on.
    if (unattended())
        return true;
    const QString name = QFileInfo(path).fileName().isEmpty() ? path : QFileInfo(path).fileName();
    const QString message
        = tr("There was a problem deleting \"%1\" (%2).  Do you want to continue with the sync operation?")
              .arg(name, error);
    if (performAlert(tr("Delete Failed."), message, true, false, platform::AlertAnswer::Ok))
        return true;
    requestCancel();
    return false;
}
