// What the sync engine needs to know about a drive that is a mounted network share: whether a
// mount is one, and whether a failed file operation on it means the connection to the device
// is lost (as opposed to a fault of one file).
#pragma once

#include <QString>

class PMNetworkDrive {
public:
    // A share mounted through GVfs (fuse.gvfsd-fuse) or the kernel's SMB client (cifs, smb3).
    static bool isNetworkMount(const QString &mountPoint);

    // errorNumber came from an operation on the share mounted at mountPoint. Network errors
    // always mean a lost connection; EIO, which the GVfs FUSE folder answers for everything
    // once the server is gone but also for faults of single files, only when the share's own
    // folder no longer answers either.
    static bool isConnectionFailure(int errorNumber, const QString &mountPoint);

    // The share mounted at mountPoint no longer answers: listing its top folder, which goes
    // to the server, fails with an I/O or network error.
    static bool stopsAnswering(const QString &mountPoint);
};
