#include "PMSmbContext.h"

#include "PMSmbLibrary.h"

#include <QDebug>

#include <libsmbclient.h>

#include <cerrno>
#include <cstring>
#include <mutex>

namespace {

// The library keeps process-wide state (its configuration, debug settings) behind the
// contexts, and not every release guards it; one context works at a time.
std::mutex &libraryMutex()
{
    static std::mutex mutex;
    return mutex;
}

// Anonymous access: no user, no password, whatever the server asks.
void anonymousCredentials(SMBCCTX *, const char *, const char *, char *workgroup, int workgroupLength, char *user,
    int userLength, char *password, int passwordLength)
{
    Q_UNUSED(workgroup);
    Q_UNUSED(workgroupLength);
    if (userLength > 0)
        user[0] = '\0';
    if (passwordLength > 0)
        password[0] = '\0';
}

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

PMSmbContext::PMSmbContext(std::chrono::milliseconds timeout)
{
    QString why;
    m_library = PMSmbLibrary::instance(&why);
    if (!m_library) {
        m_errorText = QStringLiteral("cannot load the SMB client library: ") + why;
        return;
    }
    const PMSmbLibrary &smb = *m_library;
    const std::lock_guard<std::mutex> lock(libraryMutex());
    SMBCCTX *context = smb.newContext();
    if (!context) {
        m_errorText = QStringLiteral("cannot create an SMB client context: ") + errnoText(errno);
        return;
    }
    smb.setDebug(context, 0);
    smb.setTimeout(context, static_cast<int>(timeout.count()));
    smb.setFunctionAuthDataWithContext(context, anonymousCredentials);
    smb.setOptionUseKerberos(context, false);
    smb.setOptionFallbackAfterKerberos(context, true);
    smb.setOptionNoAutoAnonymousLogin(context, false);
    if (!smb.initContext(context)) {
        m_errorText = QStringLiteral("cannot set up an SMB client context: ") + errnoText(errno);
        smb.freeContext(context, 1);
        return;
    }
    m_context = context;
}

PMSmbContext::~PMSmbContext()
{
    if (!m_context)
        return;
    const std::lock_guard<std::mutex> lock(libraryMutex());
    m_library->freeContext(m_context, 1);
}

bool PMSmbContext::listDiskShares(const QString &address, QStringList *shares, QString *errorText)
{
    shares->clear();
    if (!m_context) {
        *errorText = m_errorText;
        return false;
    }
    const std::lock_guard<std::mutex> lock(libraryMutex());
    const QByteArray url = "smb://" + address.toUtf8() + '/';
    SMBCFILE *folder = m_library->getFunctionOpendir(m_context)(m_context, url.constData());
    if (!folder) {
        *errorText = QStringLiteral("cannot list the shares of %1: %2").arg(address, errnoText(errno));
        return false;
    }
    while (const smbc_dirent *entry = m_library->getFunctionReaddir(m_context)(m_context, folder)) {
        // name is declared as a one-byte array but holds a NUL-terminated string of any length.
        const char *name = entry->name;
        if (entry->smbc_type == SMBC_FILE_SHARE)
            shares->append(QString::fromUtf8(name));
    }
    m_library->getFunctionClosedir(m_context)(m_context, folder);
    return true;
}
