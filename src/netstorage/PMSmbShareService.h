// The SMB side of network storage on Linux: public disk shares listed with libsmbclient as an
// anonymous guest, shares mounted as guest through GVfs (`gio mount -a smb://HOST/SHARE`),
// whose FUSE folder below $XDG_RUNTIME_DIR/gvfs/ is the mount path, and unmounted with
// `gio mount -u`. Kernel CIFS mounts made by someone else are recognised for networkAddress.
//
// Every call blocks for at most about the timeout given at construction (a listing, a mount
// or an unmount waits on the network); run them off the main thread.
#pragma once

#include "netstorage/PMShareService.h"

#include <QProcessEnvironment>

#include <chrono>

class PMSmbShareService : public PMShareService {
public:
    struct Options {
        // How long one listing, mount or unmount may wait on the server.
        std::chrono::milliseconds timeout = std::chrono::seconds(20);
        // The environment gio runs in and whose XDG_RUNTIME_DIR holds the GVfs folder: the
        // session bus of the user's GVfs daemons.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    };

    PMSmbShareService();
    explicit PMSmbShareService(Options options);

    bool listPublicShares(const QString &host, QStringList *shares, QString *errorText) override;
    bool mountShare(const QString &host, const QString &share, QString *mountPath, QString *errorText) override;
    bool unmountShare(const QString &mountPath) override;
    QString networkAddress(const QString &mountPath) override;

    // The folder below which GVfs shows its mounts.
    QString gvfsFolder() const;

    // True for host text this service accepts: a dotted IPv4 address, optionally ":port".
    static bool isValidHost(const QString &host);

private:
    // The mount path of an already mounted share, or empty.
    QString findMountedShare(const QString &host, const QString &share) const;
    bool runGio(const QStringList &arguments, QString *errorText) const;

    Options m_options;
};
