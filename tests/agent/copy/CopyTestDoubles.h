// Recording stand-ins for the copy engine's collaborators: the progress owner, the handler
// (error reporter) and the media filter. They record what the engine told them and answer
// as configured, so tests compare what happened with what must happen.
#pragma once

#include "agent/copy/PMCopyHandler.h"
#include "agent/copy/PMCopyItemFilter.h"
#include "agent/copy/PMFileCopyAgent.h"

#include <QFileInfo>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <functional>
#include <mutex>
#include <optional>

namespace copytest {

struct RecordingDelegate : PMCopyDelegate {
    bool setFileCopyPath(const QString &path) override
    {
        fileCopyPaths << (path.isNull() ? QStringLiteral("<nil>") : path);
        return true;
    }
    bool accumulateCopiedDataUInt64(quint64 bytes) override
    {
        copied += bytes;
        ++copiedReports;
        return true;
    }
    bool accumulateSkipFilteredDataUInt64(quint64 bytes) override
    {
        skippedFiltered += bytes;
        ++skipReports;
        return true;
    }
    bool resetPartiallyCopiedData() override
    {
        ++resets;
        return true;
    }
    std::optional<bool> syncThreadProcessATempFolder(const QString &folder) override
    {
        tempFolders << folder;
        return true;
    }

    QStringList fileCopyPaths;
    quint64 copied = 0;
    int copiedReports = 0;
    quint64 skippedFiltered = 0;
    int skipReports = 0;
    int resets = 0;
    QStringList tempFolders;
};

struct RecordingHandler : PMCopyHandler {
    PMCopyDelegate *delegate() override { return &progress; }
    std::optional<bool> shouldProceedAfterError(const QVariantMap &errorInfo) override
    {
        errors << errorInfo;
        return answer;
    }
    std::optional<bool> shouldProceedAfterErrorCopyingItem(int errorNumber, const QString &, const QString &) override
    {
        fileManagerErrors << errorNumber;
        return false;
    }
    std::optional<bool> shouldProceedAfterErrorMovingItem(int errorNumber, const QString &, const QString &) override
    {
        fileManagerErrors << errorNumber;
        return false;
    }
    std::optional<bool> shouldProceedAfterErrorRemovingItem(int errorNumber, const QString &) override
    {
        fileManagerErrors << errorNumber;
        return false;
    }
    bool agentUpdate(PMFileCopyAgent &agent, quint64 copiedBytes) override
    {
        updates << copiedBytes;
        if (cancelAtBytes && copiedBytes >= *cancelAtBytes)
            agent.setCancelled(true);
        return true;
    }
    std::optional<int> agentActionRequired(PMFileCopyAgent &, const PMFileCopyError &error) override
    {
        agentErrors << error;
        return agentAnswer;
    }

    RecordingDelegate progress;
    std::optional<bool> answer = false;
    QList<QVariantMap> errors;
    QList<int> fileManagerErrors;
    QList<quint64> updates;
    std::optional<quint64> cancelAtBytes;
    QList<PMFileCopyError> agentErrors;
    int agentAnswer = PMFileCopyAgentDelegate::Skip;
};

// Lets everything through except the names given and, with the 4 GiB limit, files of
// 4 GiB or more; records every question with its limit flag.
struct RecordingFilter : PMCopyItemFilter {
    bool shouldCopyItem(const QString &path, const QString &baseName, bool limitTo4G) const override
    {
        std::lock_guard lock(mutex);
        asked << path;
        limits << limitTo4G;
        if (rejectAll || rejectedNames.contains(baseName))
            return false;
        return !(limitTo4G && QFileInfo(path).isFile() && QFileInfo(path).size() > 0xFFFFFFFFLL);
    }

    QSet<QString> rejectedNames;
    bool rejectAll = false;
    mutable std::mutex mutex;
    mutable QStringList asked;
    mutable QList<bool> limits;
};

} // namespace copytest
