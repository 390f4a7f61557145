// Keeps two sync jobs of the same computer-user off one drive at the same time: the agent and
// the command line, or two sessions with different runtime folders, would otherwise share one
// temporary folder and delete each other's copies.
//
// The lock lives on the drive itself: an open-file-description lock (F_OFD_SETLK) on
// "<user folder>/.Z_PM_W/<computer-user id>.lock", opened beneath the mount point without
// following links, so every process of this computer sees it and the kernel releases it when
// the process dies; the file is removed when the job lets go. A second lock in this
// computer's runtime folder, keyed by the device and inode of the drive's user folder, stands
// in where the drive's file system refuses such locks.
//
//   PMDriveJobLock lock(layout);
//   if (lock.tryLock() == PMDriveJobLock::Outcome::Busy) ... "already involved in a sync operation"
//
// One object per job; not shared between threads.
#pragma once

#include "agent/copy/PMUniqueFd.h"

#include <QString>

#include <optional>

#include <sys/types.h>

class PMDriveLayout;

class PMDriveJobLock {
public:
    enum class Outcome {
        Locked,
        Busy, // another job holds the drive
        Failed, // the lock could not be made (logged); a job must not run unguarded
    };

    explicit PMDriveJobLock(const PMDriveLayout &layout);
    ~PMDriveJobLock();
    PMDriveJobLock(const PMDriveJobLock &) = delete;
    PMDriveJobLock &operator=(const PMDriveJobLock &) = delete;

    // The device the drive lies on: tryLock fails, creating nothing, once the mount point is
    // another file system. nullopt: not checked.
    void setDriveDevice(std::optional<dev_t> device) { m_driveDevice = device; }
    // Non-blocking; creates the drive's temporary area (user folder, ".Z_PM_W") when missing.
    Outcome tryLock();
    void unlock();
    bool isLocked() const { return m_runtimeLock.isValid(); }
    // Whether the drive's own lock is held (false where its file system refuses locks).
    bool holdsDriveLock() const { return m_driveLock.isValid(); }

private:
    Outcome lockDrive(int areaFd);
    Outcome lockRuntime(int userFolderFd);

    QString m_mountPoint;
    QString m_userFolder; // relative to the mount point
    QString m_lockName;
    std::optional<dev_t> m_driveDevice;
    PMUniqueFd m_area; // the folder holding the drive's lock file
    PMUniqueFd m_driveLock;
    PMUniqueFd m_runtimeLock;
};
