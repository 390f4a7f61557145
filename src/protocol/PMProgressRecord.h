// The keys of the agent's progress record, the name of the notification that carries it and
// the activity and failure codes, as its readers (pellmerectl, the terminal progress) use them.
// Kept in the protocol so a client does not link the sync engine; the agent's PMSyncProgress
// writes the same strings.
//
// Constants only; any thread.
#pragma once

#include <QString>

namespace PMProgressRecord {

inline const QString kSyncInProgressNotification
    = QStringLiteral("com.corvane.pellmere.syncInProgress.notification.evt");
inline const QString kNotificationObject = QStringLiteral("com.corvane.pellmere.notifications");

inline const QString kActivityTypeKey = QStringLiteral("syncActivityType");
inline const QString kFailureTypeKey = QStringLiteral("syncActivityFailureType");
inline const QString kIsBusyKey = QStringLiteral("syncIsBusy");
inline const QString kCancelPendingKey = QStringLiteral("syncCancelPending");
inline const QString kSizeKey = QStringLiteral("syncSize");
inline const QString kSkipFilterKey = QStringLiteral("syncSkipFilter");
inline const QString kSkipPresentKey = QStringLiteral("syncSkipPresent");
inline const QString kCopiedKey = QStringLiteral("syncCopied");
inline const QString kCopySourcePathKey = QStringLiteral("syncCopySourcePath");
inline const QString kUnaccountedKey = QStringLiteral("syncUnaccounted");
inline const QString kActivePathKey = QStringLiteral("activePath");

enum Activity : int {
    kActivityIdle = 0,
    kActivityPreparing = 1,
    kActivitySyncing = 2,
    kActivityFinishing = 3,
    kActivitySettingsJob = 4,
    kActivityFailed = 5, // failed, canceled or the drive went away
    kActivityCompleted = 6,
};

enum FailureType : int {
    kFailureNone = 0,
    kFailureIncomplete = 1,
    kFailureDriveDisappeared = 3,
    kFailureNetworkLost = 5,
    kFailureCanceled = 6,
};

} // namespace PMProgressRecord
