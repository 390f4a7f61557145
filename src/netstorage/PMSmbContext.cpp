#include "PMSmbContext.h"

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
    const std::lock_guard<std::mutex> lock(libraryMutex());
    SMBCCTX *context = smbc_new_context();
    if (!context) {
        m_errorText = QStringLiteral("cannot create an SMB client context: ") + errnoText(errno);
        return;
    }
    smbc_setDebug(context, 0);
    smbc_setTimeout(context, static_cast<int>(timeout.count()));
    smbc_setFunctionAuthDataWithContext(context, anonymousCredentials);
    smbc_setOptionUseKerberos(context, false);
    smbc_setOptionFallbackAfterKerberos(context, true);
    smbc_setOptionNoAutoAnonymousLogin(context, false);
    if (!smbc_init_context(context)) {
        m_errorText = QStringLiteral("cannot set up an SMB client context: ") + errnoText(errno);
        smbc_free_context(context, 1);
        return;
    }
    m_context = context;
}

PMSmbContext::~PMSmbContext()
{
    if (!m_context)
        return;
    const std::lock_guard<std::mutex> lock(libraryMutex());
    smbc_free_context(m_context, 1);
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
    SMBCFILE *folder = smbc_getFunctionOpendir(m_context)(m_context, url.constData());
    if (!folder) {
        *errorText = QStringLiteral("cannot list the shares of %1: %2").arg(address, errnoText(errno));
        return false;
    }
    while (const smbc_dirent *entry = smbc_getFunctionReaddir(m_context)(m_context, folder)) {
        // name is declared as a one-byte array but holds a NUL-terminated string of any length.
        const char *name = entry->name;
        if (entry->smbc_type == SMBC_FILE_SHARE)
            shares->append(QString::fromUtf8(name));
    }
    smbc_getFunctionClosedir(m_context)(m_context, folder);
    return true;
}
