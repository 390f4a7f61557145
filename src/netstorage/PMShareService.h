// What the network service objects need from the SMB side: listing a device's public disk
// shares, mounting one as guest, unmounting it again, and telling which device and share a
// mounted folder comes from. The calls block (a listing or a mount waits on the network), so
// callers run them off the main thread.
//
// Devices are addressed by host text: a dotted IPv4 address, optionally followed by ":port"
// (tests serve SMB on a loopback port of their own).
#pragma once

#include <QString>
#include <QStringList>

class PMShareService {
public:
    virtual ~PMShareService() = default;

    // The names of the public shares of type disk, sorted. False with errorText set when the
    // device cannot be asked; an answer without disk shares is true with an empty list.
    virtual bool listPublicShares(const QString &host, QStringList *shares, QString *errorText) = 0;

    // Mounts share as guest. On success mountPath is the local folder that shows it.
    virtual bool mountShare(const QString &host, const QString &share, QString *mountPath,
                            QString *errorText) = 0;

    // Unmounts the share mounted at mountPath. True when it is no longer mounted afterwards.
    virtual bool unmountShare(const QString &mountPath) = 0;

    // For a mounted SMB share, "host/share" as the device is addressed (host as in
    // listPublicShares); empty for any other folder. Compare the share part without regard to
    // case, as SMB does: a GVfs mount knows its share only in lower case.
    virtual QString networkAddress(const QString &mountPath) = 0;
};
