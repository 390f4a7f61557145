// What the parts of one sync job share while it runs on the drive's worker thread: the
// controller (cancel state, counters, settings, log), the drive layout, the scan results, the
// copy engine with its filter and error handler, and the drive's time precision.
//
// Owned by PMSyncJob; the scanner and the applier borrow it for the length of a job.
#pragma once

#include <QDateTime>

#include <sys/stat.h>

#include "agent/sync/PMDriveLayout.h"
#include "agent/sync/PMScanResults.h"
#include "agent/sync/PMTimestampPrecision.h"

class PMCopyHandler;
class PMCopyItemFilter;
class PMFileManager;
class PMSyncController;
class PMTreeSnapshot;

struct PMSyncJobContext {
    PMSyncController &controller;
    PMFileManager &fileManager;
    PMDriveLayout layout;
    PMScanResults results;
    const PMCopyItemFilter *filter = nullptr; // nullptr lets every item through (links too)
    PMCopyHandler *copyHandler = nullptr;
    bool limitTo4G = false;
    bool debug = false; // read once per job, as the hot walk must not re-read preferences
    PMTimestampPrecision precision;
    // The drive's file system takes names that are not valid UTF-8 (ext4, ...), so they are
    // copied byte for byte; when false (FAT, exFAT, NTFS) they are left out and reported.
    bool driveHoldsAnyNameBytes = true;
    // When the job's walk began: the time recorded as the last sync when the job succeeds.
    QDateTime walkStarted {};
    // Something the walk had to leave out (an unreadable folder, a name the drive cannot
    // hold); it is logged where found, and the job is not complete.
    bool itemsLeftOut = false;
    // What the job read of both sides before its walk; nullptr: the walk asks the file system.
    PMTreeSnapshot *localTree = nullptr;
    PMTreeSnapshot *driveTree = nullptr;

    // A walk begins: its start time is taken and nothing is left out yet.
    void beginWalk();
    void debugLine(const QString &text) const;
    // The filter's answer for an item (a leading "~" expanded); true without a filter.
    bool shouldCopyItem(const QString &path, const QString &baseName) const;
    // As shouldCopyItem, but refused while a cancel is pending.
    bool shouldCopyMediaFile(const QString &path) const;
    // As shouldCopyMediaFile for a local path whose attributes the walk read (lstat).
    bool shouldCopyMediaFile(const QString &localPath, const struct stat &known) const;
};
