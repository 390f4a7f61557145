// Keeps a drive's file system busy while a job runs on it: an open directory on the mount
// point makes a plain `umount` fail with EBUSY, which is how the agent refuses to let a drive
// be unmounted under a running sync (Linux has no unmount veto). A lazy unmount still
// detaches the drive; the job then finds it gone and ends with a failure.
//
//   const PMDriveBusyHold hold(mountPoint);   // released when the job returns
//
// Any thread; an empty path or a path that cannot be opened holds nothing (logged).
#pragma once

#include <QString>

class PMDriveBusyHold {
public:
    explicit PMDriveBusyHold(const QString &mountPoint);
    ~PMDriveBusyHold();
    PMDriveBusyHold(const PMDriveBusyHold &) = delete;
    PMDriveBusyHold &operator=(const PMDriveBusyHold &) = delete;

private:
    int m_fd = -1;
};
