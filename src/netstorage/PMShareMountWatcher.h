// Tells which SMB shares are mounted on this computer as they come and go, whoever mounted
// them: kernel SMB mounts (cifs, smb3, smbfs) from the mount-table changes it is handed, and
// GVfs shares from the folders of GVfs's one FUSE mount. GVfs shows every share as a folder
// of that mount, so a share mounted or unmounted there changes no mount-table entry: the
// folder is read every kCheckInterval, off the main thread (reading it waits on gvfsd-fuse).
//
//   PMShareMountWatcher watcher(smbService.gvfsFolder());
//   connect(&watcher, &PMShareMountWatcher::shareMounted, &mapper, &PMNetServiceMapper::mapMountPoint);
//   connect(&watcher, &PMShareMountWatcher::shareUnmounted, &mapper, &PMNetServiceMapper::unmapMountPoint);
//   connect(&volumeMonitor, &platform::VolumeMonitor::volumeAppeared, &watcher, &PMShareMountWatcher::mountAppeared);
//   watcher.start();
//
// Main thread: its signals are emitted there.
#pragma once

#include "platform/MountInfoParser.h"

#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QThreadPool>
#include <QTimer>

#include <chrono>
#include <mutex>

class PMShareMountWatcher : public QObject {
    Q_OBJECT

public:
    static constexpr std::chrono::seconds kCheckInterval { 2 };

    // gvfsFolder: where GVfs shows its mounts ($XDG_RUNTIME_DIR/gvfs).
    explicit PMShareMountWatcher(const QString &gvfsFolder, QObject *parent = nullptr);
    // Waits for a folder check still running.
    ~PMShareMountWatcher() override;

    QString gvfsFolder() const { return m_gvfsFolder; }

    // Reads the GVfs folder now and then every kCheckInterval; the shares shown at the first
    // reading are announced as mounted.
    void start();
    void stop();

    // Whether a mount-table entry is a kernel SMB mount.
    static bool isSmbMount(const platform::MountEntry &entry);
    // The mount points of the mount table and the GVfs share folders: where a mounted share
    // can be found. Blocks on gvfsd-fuse; any thread.
    QStringList mountedVolumes() const;

public Q_SLOTS:
    void mountAppeared(const platform::MountEntry &entry);
    void mountDisappeared(const platform::MountEntry &entry);

Q_SIGNALS:
    void shareMounted(const QString &mountPath);
    void shareUnmounted(const QString &mountPath);

private:
    void check();
    void gvfsSharesShown(const QStringList &paths, const QSet<QString> &foundBefore);
    // The paths of the GVfs folder's share folders. Blocks on gvfsd-fuse.
    static QStringList gvfsShareFolders(const QString &gvfsFolder);

    const QString m_gvfsFolder;
    QSet<QString> m_gvfsShares; // shown at the last check
    QTimer m_timer;
    QThreadPool m_pool; // one check at a time
    bool m_checking = false;
    // GVfs shares that mountedVolumes() found: a share mounted and unmounted between two checks
    // was never shown to one, but may have been mapped from that answer; its unmounting must
    // still be told.
    mutable std::mutex m_foundMutex;
    mutable QSet<QString> m_found;
};
