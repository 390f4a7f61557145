// A copy handler that passes everything on to another one and counts the errors it was told
// of. A phase whose error was answered "go on" still must not count as complete: moving the
// copies into place, for one, may go on past a file that could not be moved, but that file is
// then not where it belongs.
//
//   PMCopyErrorTally tally(reporter);
//   fileManager.movePath(source, destination, true, &tally);
//   if (tally.errors() > 0) ... not complete
//
// Used on the thread that copies, like the handler it wraps.
#pragma once

#include "agent/copy/PMCopyHandler.h"

class PMCopyErrorTally : public PMCopyHandler {
public:
    explicit PMCopyErrorTally(PMCopyHandler *inner);

    int errors() const { return m_errors; }

    PMCopyDelegate *delegate() override;
    std::optional<bool> shouldProceedAfterError(const QVariantMap &errorInfo) override;
    std::optional<bool> shouldProceedAfterErrorCopyingItem(
        int errorNumber, const QString &source, const QString &destination) override;
    std::optional<bool> shouldProceedAfterErrorMovingItem(
        int errorNumber, const QString &source, const QString &destination) override;
    std::optional<bool> shouldProceedAfterErrorRemovingItem(int errorNumber, const QString &path) override;
    bool agentUpdate(PMFileCopyAgent &agent, quint64 copiedBytes) override;
    std::optional<int> agentActionRequired(PMFileCopyAgent &agent, const PMFileCopyError &error) override;

private:
    PMCopyHandler *m_inner;
    int m_errors = 0;
};
