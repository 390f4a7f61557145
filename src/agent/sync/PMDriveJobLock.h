// Keeps two sync jobs of the same computer-user off one drive at the same time (the agent
// and the command line on one computer would otherwise share one temporary folder).
//
// The lock is an flock(2) on a file in this computer's runtime folder named after the
// drive's temporary folder, so it never writes to the drive, works on every file system
// and is released by the kernel when the process dies.
//
//   PMDriveJobLock lock(layout.pathForTavrinTemp());
//   if (!lock.tryLock()) ... "already involved in a sync operation"
//
// One object per job; not shared between threads.
#pragma once

#include <QString>

class PMDriveJobLock {
public:
    explicit PMDriveJobLock(QString driveTempPath);
    ~PMDriveJobLock();
    PMDriveJobLock(const PMDriveJobLock &) = delete;
    PMDriveJobLock &operator=(const PMDriveJobLock &) = delete;

    // Non-blocking; false when another job holds the lock (or the lock file cannot be made,
    // which is logged and also answers false: a job must not run unguarded).
    bool tryLock();
    void unlock();
    bool isLocked() const { return m_fd >= 0; }
    QString lockFilePath() const;

private:
    QString m_key;
    int m_fd = -1;
};
