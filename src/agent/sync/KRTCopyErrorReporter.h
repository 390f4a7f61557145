// The copy engine's handler for copies, moves and removals of one sync job: it logs each
// failure in the sync log, finds a clear cause (a symbolic link it can recreate, a drive out
// of space, a name the drive's file system cannot store, a drive that went away), asks the
// user whether to go on, and turns a "no" into a cancel of the whole job. It also hands the
// copy progress on to the job and passes a pending cancel on to the running copy.
//
//   auto reporter = KRTCopyErrorReporter::copyErrorReporter(&controller);
//   fileManager.copyPath(source, destination, true, reporter.get());
//
// Called on the worker thread that runs the copies; alerts are answered on the main thread
// while the worker waits (the delegate's syncThreadPerformAlert).
#pragma once

#include "agent/sync/KRTErrorReporter.h"

#include <memory>
#include <optional>

class KRTCopyErrorReporter : public KRTErrorReporter {
public:
    // Free space below this many bytes counts as a full drive whatever the item's size.
    static constexpr quint64 kMinimumFreeBytes = 131072;

    // Notes which folder the delegate's drive is at this moment, to tell later whether it is
    // still there.
    explicit KRTCopyErrorReporter(PMErrorReporterDelegate *delegate = nullptr);
    static std::unique_ptr<KRTCopyErrorReporter> copyErrorReporter(PMErrorReporterDelegate *delegate = nullptr)
    {
        return std::make_unique<KRTCopyErrorReporter>(delegate);
    }

    void willProcessPath(const QString &path) override;

    // The decision after a failure described by an error record ("Error", "Path", "ToPath"):
    // true to go on (the failure is repaired or accepted), false to fail the operation.
    std::optional<bool> shouldProceedAfterError(const QVariantMap &errorInfo) override;
    std::optional<bool> shouldProceedAfterErrorCopyingItem(
        int errorNumber, const QString &source, const QString &destination) override;
    std::optional<bool> shouldProceedAfterErrorMovingItem(
        int errorNumber, const QString &source, const QString &destination) override;
    std::optional<bool> shouldProceedAfterErrorRemovingItem(int errorNumber, const QString &path) override;

    // PMFileCopyAgentDelegate: Skip when the decision goes on, Quit otherwise.
    std::optional<int> agentActionRequired(PMFileCopyAgent &agent, const PMFileCopyError &error) override;
    // Cancels the agent when the job has a cancel pending; the job's partially-copied bytes
    // become copiedBytes.
    bool agentUpdate(PMFileCopyAgent &agent, quint64 copiedBytes) override;

    // A new delegate's drive is noted as the constructor does.
    void setDelegate(PMErrorReporterDelegate *delegate) override;

    // Whether path lies on the job's drive and the drive is still there: its root folder is
    // the very folder it was when the reporter was made (same device and inode). A drive that
    // is any folder, not a mount point, is there as long as that folder is.
    bool destinationVolumePresent(const QString &path) const;

private:
    struct DriveRoot {
        quint64 device = 0;
        quint64 inode = 0;
        bool operator==(const DriveRoot &) const = default;
    };
    static std::optional<DriveRoot> identify(const QString &root);
    void noteDriveRoot();

    // The decision proper; see shouldProceedAfterError.
    bool decide(const QVariantMap &errorInfo);
    // The same for a failure whose errno is known: a lost connection to a network drive ends
    // the job without a question.
    bool decideAfter(int errorNumber, const QVariantMap &errorInfo);
    // Recreates the link at destination pointing where the link at source points. Answers
    // true when an equivalent link is in place; nullopt when source is no readable link.
    std::optional<bool> repairLink(const QString &source, const QString &destination) const;
    // A clearer text for the failure when the cause is known, else errorText.
    QString diagnose(
        const QString &errorText, const QString &source, const QString &destination, bool destinationPresent) const;
    void logMountedVolumes() const;
    std::optional<DriveRoot> m_driveRoot; // the drive's root folder when the reporter was made
    // Asks whether to go on after a failure on the item named; a "no" cancels the job. When
    // the drive is gone there is nothing to go on with: the user is told, the answer is no.
    bool askAfterFailure(bool destinationPresent, const QString &named, const QString &errorText) const;
};
