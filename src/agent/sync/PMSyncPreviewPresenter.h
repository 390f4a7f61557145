// Shows a sync job's plan before it is applied and answers whether to apply it: the drive's
// scan results, which the user may edit (rows switched off, the winning side chosen), and the
// files the media filter left out with their reasons.
//
// The worker hands the request to the main thread and waits (PMSyncController::
// syncThreadPerformPreview). The results shown are a copy the request shares: a window may
// outlive the job (the drive went away while it was open), and the worker takes the edited
// copy back only when the answer is "apply".
//
// Threads: present() and withdrawAll() on the main thread only; done is called exactly once,
// on the main thread, either before present() returns or later.
#pragma once

#include "agent/sync/PMLeftOutList.h"
#include "agent/sync/PMScanResults.h"

#include <QString>

#include <functional>
#include <memory>
#include <vector>

class PMSyncPreviewPresenter {
public:
    struct Request {
        QString driveName;
        std::shared_ptr<PMScanResults> results;
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
