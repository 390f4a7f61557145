// Applies the scan results of a job: copies what the walk found into the drive's temporary
// folder and, when everything succeeded, records the time of this sync.
//
// A copy that failed is remembered even when later copies succeed (the user may choose to go
// on after the alert, and what was copied is still moved into place): such a sync is never
// reported complete, and its time is not recorded. When the drive's copy is the newer one,
// both sides are left as they are and the case is logged: nothing is lost.
//
// Worker thread only.
#pragma once

#include <QString>

struct PMSyncJobContext;

class PMScanApplier {
public:
    explicit PMScanApplier(PMSyncJobContext &context);

    // The running result: false when the last copy or deletion failed, or at a cancel.
    bool processScanResults();
    // Whether any copy of the last application failed.
    bool copyFailed() const { return m_copyFailed; }

private:
    bool applyDeletion(const struct PMScanEntry &entry, bool running);
    bool removeItem(const QString &path);

    PMSyncJobContext &m_context;
    bool m_copyFailed = false;
};
