// What a file-operation error reporter needs from the job it works for (in the agent: the
// drive's sync controller): the cancel state, the partially-copied byte counter, the sync
// log, a question to the user, and the drive's mount point. As a PMCopyDelegate it also
// takes the copy engine's progress reports, which the reporter hands on.
//
// Called on the worker thread that runs the copies; performAlert waits there for the answer.
#pragma once

#include "agent/copy/PMCopyDelegate.h"
#include "platform/AlertPresenter.h"

#include <QString>

class PMErrorReporterDelegate : public PMCopyDelegate {
public:
    virtual bool cancelPending() const = 0;
    // pending: stop the job at its next check; rval: the job's result after the cancel.
    virtual void setCancelPending(bool pending, bool rval) = 0;
    // The bytes copied so far of the copy in progress.
    virtual void setPartiallyCopiedData(quint64 bytes) = 0;
    // The agent's log (always written) and its debug lines.
    virtual void logMessage(const QString &text) const = 0;
    virtual void debugMessage(const QString &text) const = 0;
    // Asks the user and waits; true for OK. headlessAnswer is used when nobody can be asked.
    virtual bool syncThreadPerformAlert(const QString &title, const QString &message, bool cancelButton, bool logButton,
        platform::AlertAnswer headlessAnswer)
        = 0;
    // Where the drive the job writes to is mounted.
    virtual QString deviceMountPoint() const = 0;
    // Whether the running job is a continuous one, started by changes on disk rather than by
    // the user: nobody waits for it, so its errors are logged and never asked about.
    virtual bool continuousSyncInProgress() const { return false; }
    // Whether the drive is a mounted network share; and what a failure that means its device
    // can no longer be reached does: the job ends, reported as a connection error.
    virtual bool isNetworkDevice() const { return false; }
    virtual void connectionToDeviceLost() { }

protected:
    PMErrorReporterDelegate() = default;
    PMErrorReporterDelegate(const PMErrorReporterDelegate &) = default;
    PMErrorReporterDelegate &operator=(const PMErrorReporterDelegate &) = default;
};
