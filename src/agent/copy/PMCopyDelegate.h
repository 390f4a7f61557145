// The owner of the progress counters that copies, moves and folder creations report to (in
// the agent: the sync controller of a drive). Every operation is optional: the default
// implementation answers that the delegate does not respond, and the copy engine then skips
// the message, exactly as it would for an object that does not implement it.
//
// Called on the thread that runs the copy (the drive's worker thread); implementations need
// no locking for calls coming from the copy engine.
#pragma once

#include <QString>

#include <QtGlobal>
#include <optional>

class PMCopyDelegate {
public:
    virtual ~PMCopyDelegate() = default;

    // Each answers true when the delegate responds to the message.
    // The source path of the file, package or link about to be copied; a null string when
    // that copy has ended.
    virtual bool setFileCopyPath(const QString &path)
    {
        Q_UNUSED(path);
        return false;
    }
    virtual bool accumulateCopiedDataUInt64(quint64 bytes)
    {
        Q_UNUSED(bytes);
        return false;
    }
    virtual bool accumulateSkipFilteredDataUInt64(quint64 bytes)
    {
        Q_UNUSED(bytes);
        return false;
    }
    virtual bool resetPartiallyCopiedData() { return false; }
    // Sent after the children of a non-empty folder were copied into destinationFolder. The
    // answer is the delegate's own result; std::nullopt means it does not respond.
    virtual std::optional<bool> syncThreadProcessATempFolder(const QString &destinationFolder)
    {
        Q_UNUSED(destinationFolder);
        return std::nullopt;
    }

protected:
    PMCopyDelegate() = default;
    PMCopyDelegate(const PMCopyDelegate &) = default;
    PMCopyDelegate &operator=(const PMCopyDelegate &) = default;
};
