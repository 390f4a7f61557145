// A share service answered from a script, for tests of the code above the SMB side: which
// shares each host lists (or that listing fails), which mounts succeed, and the mount paths
// they give. Records every call. Any thread may call it.
#pragma once

#include "netstorage/PMShareService.h"

#include <QHash>
#include <QMutex>
#include <QSet>
#include <QStringList>

namespace testsupport {

class ScriptedShareService : public PMShareService {
public:
    // host lists shares from now on; an empty list is an answer without disk shares.
    void setShares(const QString &host, const QStringList &shares);
    // Listing host fails from now on (the device cannot be asked).
    void setListingFails(const QString &host);
    // Mounting this share of host fails.
    void setMountFails(const QString &host, const QString &share);
    // Unmounting this path fails (it stays mounted).
    void setUnmountFails(const QString &mountPath);
    // A folder mounted by someone else, with the origin networkAddress gives for it.
    void addForeignMount(const QString &mountPath, const QString &hostAndShare);

    int listingCalls(const QString &host) const;
    int mountCalls() const;
    QStringList mountedPaths() const;
    // The path a mount of share of host gets.
    static QString mountPathFor(const QString &host, const QString &share);

    bool listPublicShares(const QString &host, QStringList *shares, QString *errorText) override;
    bool mountShare(const QString &host, const QString &share, QString *mountPath, QString *errorText) override;
    bool unmountShare(const QString &mountPath) override;
    QString networkAddress(const QString &mountPath) override;

private:
    mutable QMutex m_lock;
    QHash<QString, QStringList> m_shares;
    QSet<QString> m_listingFails;
    QSet<QString> m_mountFails;
    QSet<QString> m_unmountFails;
    QHash<QString, int> m_listingCalls;
    int m_mountCalls = 0;
    QHash<QString, QString> m_mounted; // mount path -> "host/share"
};

} // namespace testsupport
