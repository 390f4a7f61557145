// What a drive's sync controller needs from the application that owns it: publishing the
// progress record to the manager, taking back changed folders a continuous sync could not
// take, and showing the log to the user.
//
// Threads: sendActivityNotification() and addContinuousSyncItems() are called on the drive's
// worker thread (implementations hop to their own thread as they need; the record is a copy);
// showLog() is called on the main thread.
#pragma once

#include <QStringList>
#include <QVariantMap>

class PMSyncControllerOwner {
public:
    virtual ~PMSyncControllerOwner() = default;

    // forced: publish now even when the owner would otherwise rate-limit notifications.
    virtual void sendActivityNotification(bool forced, const QVariantMap &progress) = 0;
    // Changed folder roots handed back to the owner's continuous-sync queue.
    virtual void addContinuousSyncItems(const QStringList &paths) = 0;
    virtual void showLog() = 0;

protected:
    PMSyncControllerOwner() = default;
    PMSyncControllerOwner(const PMSyncControllerOwner &) = default;
    PMSyncControllerOwner &operator=(const PMSyncControllerOwner &) = default;
};
