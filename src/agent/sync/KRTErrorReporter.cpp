#include "agent/sync/KRTErrorReporter.h"

#include "agent/sync/PMNetworkDrive.h"

#include <cerrno>

#include <cstring>

QString KRTErrorReporter::errorText(int errorNumber)
{
    // strerror() would follow LC_MESSAGES; the texts are compared ("Is a directory") and
    // logged, so they must not change with the user's language.
    if (errorNumber == EUCLEAN)
        return QStringLiteral("The drive's file system is damaged; check it with its repair tool");
    if (const char *description = strerrordesc_np(errorNumber))
        return QString::fromUtf8(description);
    return QStringLiteral("Unknown error %1").arg(errorNumber);
}

void KRTErrorReporter::logMessage(const QString &text) const
{
    if (m_delegate)
        m_delegate->logMessage(text);
}

void KRTErrorReporter::debugMessage(const QString &text) const
{
    if (m_delegate)
        m_delegate->debugMessage(text);
}

bool KRTErrorReporter::performAlert(const QString &title, const QString &message, bool cancelButton, bool logButton,
    platform::AlertAnswer headlessAnswer) const
{
    if (!m_delegate)
        return headlessAnswer == platform::AlertAnswer::Ok;
    return m_delegate->syncThreadPerformAlert(title, message, cancelButton, logButton, headlessAnswer);
}

bool KRTErrorReporter::endJobOnLostConnection(int errorNumber) const
{
    if (!m_delegate || !m_delegate->isNetworkDevice()
        || !PMNetworkDrive::isConnectionFailure(errorNumber, m_delegate->deviceMountPoint()))
        return false;
    m_delegate->connectionToDeviceLost();
    return true;
}

void KRTErrorReporter::requestCancel() const
{
    if (m_delegate)
        m_delegate->setCancelPending(true, false);
}
