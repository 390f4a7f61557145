// The copy engine's handler for the deletions of one sync job: it logs each failed
// deletion, asks the user whether to go on, and turns a "no" into a cancel of the job.
//
//   KRTDeleteErrorReporter reporter(&controller);
//   PMItemOperations(&reporter).removeItem(path);
//
// Called on the worker thread; alerts are answered on the main thread while it waits.
#pragma once

#include "agent/sync/KRTErrorReporter.h"

class KRTDeleteErrorReporter : public KRTErrorReporter {
public:
    explicit KRTDeleteErrorReporter(PMErrorReporterDelegate *delegate = nullptr)
        : KRTErrorReporter(delegate)
    {
    }

    void willProcessPath(const QString &path) override;

    // The decision after a failed deletion described by an error record ("Error", "Path"):
    // true to go on, false to fail the deletion.
    std::optional<bool> shouldProceedAfterError(const QVariantMap &errorInfo) override;
    std::optional<bool> shouldProceedAfterErrorRemovingItem(int errorNumber, const QString &path) override;
};
