// Shows a sync job's plan before it is applied and answers whether to apply it: the drive's
// scan results, which the user may edit (rows switched off, the winning side chosen), and the
// files the media filter left out with their reasons.
//
// The worker hands the request to the main thread and waits (PMSyncController::
// syncThreadPerformPreview); the results are the worker's own and are not touched by it
// until done has been called.
//
// Threads: present() and withdrawAll() on the main thread only; done is called exactly once,
// on the main thread, either before present() returns or later.
#pragma once

#include "agent/sync/PMLeftOutList.h"
#include "agent/sync/PMScanResults.h"

#include <QString>

#include <functional>
#include <vector>

class PMSyncPreviewPresenter {
public:
    struct Request {
        QString driveName;
        PMScanResults *results = nullptr;
        std::vector<PMLeftOutList::Item> leftOut;
    };

    virtual ~PMSyncPreviewPresenter() = default;

    // done(true): apply the results as they are now; done(false): apply nothing.
    virtual void present(const Request &request, std::function<void(bool apply)> done) = 0;
    // Answers every open preview with "apply nothing" (a quitting agent cannot wait).
    virtual void withdrawAll() { }

protected:
    PMSyncPreviewPresenter() = default;
    PMSyncPreviewPresenter(const PMSyncPreviewPresenter &) = default;
    PMSyncPreviewPresenter &operator=(const PMSyncPreviewPresenter &) = default;
};
