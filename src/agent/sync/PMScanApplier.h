// Applies the scan results of a job: copies what the walk found into the drive's temporary
// folder and, when everything succeeded, records the time of this sync.
//
// Once a copy failed, the job's result stays false, even when later copies succeed (the
// user may still choose to go on after the alert): a sync with a failed copy is never
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

    bool processScanResults();

private:
    bool applyDeletion(const struct PMScanEntry &entry, bool running);
    bool removeItem(const QString &path);

    PMSyncJobContext &m_context;
};
