// The agent's network storage: device discovery (Avahi), the share mapper mounting every
// public share of a device as it appears, the SMB share service behind both, reachability,
// and the computer's address changes delaying auto-mounting. It turns the mapper's
// announcements into what the agent acts on: a share became a drive, a share is gone, the
// device of a share can no longer be reached, a device's shares could not be listed.
//
//   PMNetworkStorage storage({ .smbPort = 0 });
//   connect(&storage, &PMNetworkStorage::shareMapped, app, ...);
//   storage.start();   // without Avahi or the system bus: logged, and nothing is found
//
// Main thread: its signals are emitted there; listing, mounting and mapping run on the
// mapper's threads and never block the main thread.
#pragma once

#include "netstorage/PMNetServiceObject.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QThreadPool>
#include <QTimer>

#include <chrono>
#include <memory>

class PMBonjourDiscoveryManager;
class PMLocalReachability;
class PMNetServiceMapper;
class PMReachability;
class PMShareService;
class PMSmbShareService;

class PMNetworkStorage : public QObject {
    Q_OBJECT

public:
    // How often the GVfs folder is read to notice shares unmounted by someone else (GVfs
    // shows them all in one FUSE mount, so the mount table does not change for them).
    static constexpr std::chrono::seconds kGvfsCheckInterval { 5 };

    struct Options {
        // The SMB port of the devices when it is not the standard one (0).
        quint16 smbPort = 0;
    };

    struct Share {
        QString name;
        QString mountPath; // where it is mapped; empty when it is not
    };
    struct Device {
        QString name;
        QString address;
        QString model;
        QList<Share> shares;
    };

    // The SMB share service (GVfs) and the local network's reachability of this computer.
    explicit PMNetworkStorage(Options options, QObject *parent = nullptr);
    // Another SMB side and network (both must outlive the object): tests.
    PMNetworkStorage(
        PMShareService *shareService, PMReachability *reachability, Options options, QObject *parent = nullptr);
    // Stops the devices (ending their listings) and waits for the mapper's work.
    ~PMNetworkStorage() override;

    // Starts watching reachability and address changes and starts discovery. Returns at once.
    void start();

    PMNetServiceMapper &mapper() { return *m_mapper; }
    const PMNetServiceMapper &mapper() const { return *m_mapper; }
    PMBonjourDiscoveryManager &discovery() { return *m_discovery; }

    // The identity under which this computer keeps its choices for a share: the device's
    // service name and the share's name (lower case, as SMB names are case-insensitive).
    // A share has no volume UUID, and its address may change from one network to the next.
    static QString shareIdentity(const QString &serviceName, const QString &share);

    // The devices found, in name order, with their public shares as last listed and where
    // each is mapped. Main thread.
    QList<Device> devices() const;

    // Lists, mounts and maps the device's shares again (off the main thread).
    void retryMounting(const PMNetServicePtr &service);

Q_SIGNALS:
    // A mounted share belongs to a known device: it is a drive from now on.
    void shareMapped(const QString &mountPath, const QString &identity);
    // The share at mountPath is no longer a drive (unmounted, or its device went away).
    void shareUnmapped(const QString &mountPath);
    // The device of the share at mountPath can no longer be reached.
    void shareUnreachable(const QString &mountPath);
    // A device named no shares; retryMounting(service) asks again.
    void failedToListShares(const PMNetServicePtr &service, const QString &errorText);

private:
    PMNetworkStorage(std::unique_ptr<PMSmbShareService> shareService, std::unique_ptr<PMLocalReachability> reachability,
        PMShareService *usedShareService, PMReachability *usedReachability, Options options, QObject *parent);
    void deviceAppeared(const PMNetServicePtr &service);
    void watchReachability(const PMNetServicePtr &service);
    void deviceBecameUnreachable(PMNetServiceObject *service);
    QStringList mountedVolumes() const;
    // Unmaps the mapped GVfs folders that GVfs no longer shows (off the main thread).
    void checkGvfsShares();

    const Options m_options;
    // Mapped mount path -> share name, as the mapping announced it. Main thread.
    QMap<QString, QString> m_mappedShareNames;
    std::unique_ptr<PMSmbShareService> m_ownShareService;
    std::unique_ptr<PMLocalReachability> m_ownReachability;
    PMShareService *m_shareService;
    PMReachability *m_reachability;
    std::unique_ptr<PMBonjourDiscoveryManager> m_discovery;
    std::unique_ptr<PMNetServiceMapper> m_mapper;
    QTimer m_gvfsCheck;
    QThreadPool m_checkPool; // one check at a time, which may wait on gvfsd-fuse
};
