// Ties mounted SMB shares to the network devices they come from. It keeps the devices
// discovery announced, optionally mounts every public share of a device as soon as it appears
// (the agent does; the manager does not), and whenever a share is mounted or a device's
// shares are known it records which device serves which mount path and announces it.
//
//   PMNetServiceMapper mapper(&shareService);
//   mapper.attachDiscovery(&discovery);
//   mapper.setAutoMount(true);
//   connect(&mapper, &PMNetServiceMapper::netServiceMapped, ...); // from the mapping thread
//   mapper.mapMountPoint(QStringLiteral("/run/user/1000/gvfs/smb-share:server=...,share=music"));
//
// Map and unmap work runs in order on a thread of its own; listing and mounting for a device
// run on a small pool; both block on the network, never the main thread. The mapping signals
// come from those threads: receivers that touch the user interface use queued connections.
// Discovery's signals and the network-change slot are taken on the main thread.
#pragma once

#include "netstorage/PMMappedShareSet.h"
#include "netstorage/PMNetServiceObject.h"

#include <QMap>
#include <QMutex>
#include <QObject>
#include <QSet>
#include <QThread>
#include <QThreadPool>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

class PMBonjourDiscoveryManager;
class PMShareService;

namespace platform {
class NetworkAddressWatcher;
}

class PMNetServiceMapper : public QObject, public PMMappedShareSet {
    Q_OBJECT

public:
    // The names and user-info keys the mapper's announcements are known by.
    static inline const QString kMappedNotification
        = QStringLiteral("com.corvane.pellmere.PMNetServiceMappedNotification");
    static inline const QString kUnmappedNotification
        = QStringLiteral("com.corvane.pellmere.PMNetServiceUnMappedNotification");
    static inline const QString kFailedToListSharesNotification
        = QStringLiteral("com.corvane.pellmere.PMNetServiceFailedToListSharesNotification");
    static inline const QString kMappedPathKey = QStringLiteral("com.corvane.pellmere.PMNetServiceMappedPathKey");
    static inline const QString kMappedServiceKey = QStringLiteral("com.corvane.pellmere.PMNetServiceMappedServiceKey");
    static inline const QString kErrorKey = QStringLiteral("com.corvane.pellmere.PMNetServiceErrorKey");

    // The wait before auto-mounting after a network change (addresses may still be settling).
    static constexpr std::chrono::milliseconds kNetworkChangeDelay { 25'000 };

    // shareService names the origin of mount paths; it must outlive the mapper.
    explicit PMNetServiceMapper(PMShareService *shareService, QObject *parent = nullptr);
    // Stops the devices it knows (ending their listings) and waits for queued work.
    ~PMNetServiceMapper() override;

    // Takes discovery's devices as the known ones and follows its announcements.
    void attachDiscovery(PMBonjourDiscoveryManager *discovery);
    // Watches the computer's addresses and delays auto-mounting after each change; false
    // (logged) when they cannot be watched, and the mapper works without it.
    bool watchNetworkChanges();

    // Where "mounted volumes" come from when a device's shares are mapped; the mount table by
    // default. Called on the mapping thread.
    void setMountedVolumesSource(std::function<QStringList()> source);
    void setNetworkChangeDelay(std::chrono::milliseconds delay) { m_changeDelay = delay; }

    bool autoMount() const { return m_autoMount.load(); }
    void setAutoMount(bool on) { m_autoMount.store(on); }
    QMap<QString, PMNetServicePtr> mappedServices() const;
    QList<PMNetServicePtr> services() const;
    bool isMappedSharePath(const QString &mountPath) const override;

    // Queued on the mapping thread; return at once. An empty path is ignored.
    void mapMountPoint(const QString &mountPath);
    void unmapMountPoint(const QString &mountPath);
    // Lists the device's shares, mounts each and maps them, off the main thread.
    void mountAllSharesOfNetService(const PMNetServicePtr &service);
    // Blocks until the map and unmap work queued so far is done. Not from the mapping thread.
    void waitForQueuedWork();

    // The current wait before auto-mounting: 0, or the network-change delay after a change.
    std::chrono::milliseconds delay() const { return m_delay; }
    void setDelay();
    void resetDelay();

public Q_SLOTS:
    void netServiceAppeared(const PMNetServicePtr &service);
    void netServiceDisappeared(const PMNetServicePtr &service);
    void networkConfigurationChanged();

Q_SIGNALS:
    void netServiceMapped(const QString &mountPath, const PMNetServicePtr &service);
    // service is null when the mapping ended because its device went away.
    void netServiceUnmapped(const QString &mountPath, const PMNetServicePtr &service);
    void netServiceFailedToListShares(const PMShareServiceError &error, const PMNetServicePtr &service);

private:
    void onMappingThread(std::function<void()> work);
    void mapService(const PMNetServicePtr &service);
    void mapPath(const QString &mountPath);
    void unmapPath(const QString &mountPath);
    void mountAllShares(const PMNetServicePtr &service);
    // "host/share" of a mounted SMB folder split in two; false for any other folder.
    bool originOf(const QString &mountPath, QString *host, QString *share) const;

    PMShareService *m_shareService;
    std::function<QStringList()> m_mountedVolumes;
    std::unique_ptr<platform::NetworkAddressWatcher> m_networkWatcher;

    mutable QMutex m_lock; // the two below
    QList<PMNetServicePtr> m_services;
    QMap<QString, PMNetServicePtr> m_mappings;

    std::atomic<bool> m_autoMount { false };
    std::chrono::milliseconds m_changeDelay { kNetworkChangeDelay };
    std::chrono::milliseconds m_delay { 0 };
    QTimer m_resetDelayTimer;

    QThread m_mappingThread;
    QObject *m_mappingContext; // lives on m_mappingThread
    QThreadPool m_pool;
};

Q_DECLARE_METATYPE(PMShareServiceError)
