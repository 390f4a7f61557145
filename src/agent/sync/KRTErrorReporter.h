// The common part of the copy engine's error handlers: the job it reports to, the error
// policy and the number of errors handled. The decisions themselves belong to the
// subclasses (KRTCopyErrorReporter, KRTDeleteErrorReporter).
//
// errorHandling: 0 asks the user at each error; a positive value goes on after every error
// without asking, a negative one stops after every error without asking.
//
// Used on the worker thread that runs the copies; errorCount() may be read from any thread.
// The delegate is not owned and must outlive the reporter's use.
#pragma once

#include "agent/copy/PMCopyHandler.h"
#include "agent/sync/PMErrorReporterDelegate.h"

#include <QString>

#include <atomic>

class KRTErrorReporter : public PMCopyHandler {
public:
    ~KRTErrorReporter() override = default;
    KRTErrorReporter(const KRTErrorReporter &) = delete;
    KRTErrorReporter &operator=(const KRTErrorReporter &) = delete;

    PMErrorReporterDelegate *reporterDelegate() const { return m_delegate; }
    virtual void setDelegate(PMErrorReporterDelegate *delegate) { m_delegate = delegate; }
    // PMCopyHandler: the progress owner is the job's delegate.
    PMCopyDelegate *delegate() override { return m_delegate; }

    qint32 errorHandling() const { return m_errorHandling.load(); }
    void setErrorHandling(qint32 handling) { m_errorHandling.store(handling); }
    qint32 errorCount() const { return m_errorCount.load(); }
    void setErrorCount(qint32 count) { m_errorCount.store(count); }
    // Answers the new count.
    qint32 incrementErrorCount() { return m_errorCount.fetch_add(1) + 1; }
    // The delegate's pending cancel; false without a delegate.
    bool cancelPending() const { return m_delegate && m_delegate->cancelPending(); }

    // Called before an item is processed: a debug line naming it.
    virtual void willProcessPath(const QString &path) = 0;

    // The text of an errno value, the same in every locale ("Is a directory").
    static QString errorText(int errorNumber);

protected:
    explicit KRTErrorReporter(PMErrorReporterDelegate *delegate)
        : m_delegate(delegate)
    {
    }

    void logMessage(const QString &text) const;
    void debugMessage(const QString &text) const;
    // Asks the delegate's user; without a delegate the answer is headlessAnswer.
    bool performAlert(const QString &title, const QString &message, bool cancelButton, bool logButton,
        platform::AlertAnswer headlessAnswer) const;
    // What the user's "no" does: the whole job stops, its result NO.
    void requestCancel() const;
    // For a failure with errorNumber on a network drive: true when it means the connection to
    // the drive's device is lost, which then ends the job as a connection error (there is
    // nobody to ask about the next file, and every one would fail the same way).
    bool endJobOnLostConnection(int errorNumber) const;
    // A continuous job runs unattended: no question may hold it up or interrupt the user.
    bool unattended() const { return m_delegate && m_delegate->continuousSyncInProgress(); }

private:
    PMErrorReporterDelegate *m_delegate;
    std::atomic<qint32> m_errorHandling { 0 };
    std::atomic<qint32> m_errorCount { 0 };
};
