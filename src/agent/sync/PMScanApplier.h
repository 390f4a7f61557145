// Applies the scan results of a job: copies what the walk found into the drive's temporary
// folder and, when everything succeeded, records the time of this sync.
//
// A copy that failed is remembered even when later copies succeed (the user may choose to go
// on after the alert, and what was copied is still moved into place): such a sync is never
// reported complete, and its time is not recorded. When both sides changed since the last sync
// and the drive's copy is the newer one, the drive's copy is kept beside the computer's under
// another name and the case is logged: nothing is lost.
//
// Worker thread only.
#pragma once

#include "agent/sync/PMSyncJobContext.h"

#include <QString>

class PMScanApplier {
public:
    explicit PMScanApplier(PMSyncJobContext &context);

    // The running result: false when the last copy or deletion failed, or at a cancel.
    bool processScanResults();
    // Whether any copy of the last application failed, or the walk before it left items out.
    bool incomplete() const { return m_copyFailed || m_context.itemsLeftOut; }

private:
    // Renames the drive's copy of a conflict out of the way; false (logged) when it stays.
    bool keepDriveCopy(const struct PMScanEntry &entry);
    bool applyDeletion(const struct PMScanEntry &entry, bool running);
    bool removeItem(const QString &path);

    PMSyncJobContext &m_context;
    bool m_copyFailed = false;
};
