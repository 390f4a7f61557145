// One network storage device found on the local network: the DNS-SD service that announced
// it, its chosen IPv4 address, its TXT record, its public SMB shares, the shares this process
// mounted and whether it can be reached directly right now.
//
//   PMNetServicePtr device = PMNetServiceObject::create(&shareService, &reachability);
//   device->setIp4Addresses({ "192.168.1.20" }, "192.168.1.20"); // starts watching reachability
//   PMShareServiceError error;
//   if (device->updateSharesListSync(&error))            // blocks: run it off the main thread
//       device->mountShareSync(device->publicShares().first(), &error);
//
// The object lives on the main thread, where reachability changes reach it. The blocking
// operations (listing, mounting, unmounting) may run on any other thread; accessors may be
// called from any thread. stop() ends a running listing at once and refuses further mounts.
// Made by create(), the object is deleted on its own thread even when the last reference to it
// goes on a worker thread, so that no signal is being delivered to it while it goes.
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QMap>
#include <QMutex>
#include <QObject>
#include <QSharedPointer>
#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "netstorage/PMShareServiceError.h"

class PMReachability;
class PMShareService;

// What names the DNS-SD service behind a device: enough to resolve it again.
struct PMServiceRecord {
    QString name;
    QString type;
    QString domain;
    int interfaceIndex = -1;
    int protocol = -1;

    // Two reports of one service on several interfaces are the same service.
    bool sameService(const PMServiceRecord &other) const
    {
        return name == other.name && type == other.type && domain == other.domain;
    }
};

struct PMShareListingTiming {
    // How long a listing keeps asking a device that answers without shares.
    std::chrono::milliseconds timeout { 90'000 };
    // The pause between two questions.
    std::chrono::milliseconds retryInterval { 2'000 };
};

class PMNetServiceObject : public QObject {
    Q_OBJECT

public:
    enum ConnectionStatus { NotWatched = -1, NotReachable = 0, Reachable = 1 };

    // shareService and reachability must outlive the object.
    PMNetServiceObject(PMShareService *shareService, PMReachability *reachability, QObject *parent = nullptr);
    ~PMNetServiceObject() override;
    // A shared object deleted on the thread it lives on (later, when the last reference goes on
    // another thread).
    static QSharedPointer<PMNetServiceObject> create(PMShareService *shareService, PMReachability *reachability);

    // A new object for the same device: service, name, addresses and TXT record, but no
    // shares, mounts or stopped state; reachability is watched again when an address is set.
    QSharedPointer<PMNetServiceObject> copy() const;

    // Case-insensitive order of the service names; an object without a name comes first.
    static int compare(const PMNetServiceObject &a, const PMNetServiceObject &b);

    PMServiceRecord netService() const;
    void setNetService(const PMServiceRecord &record);
    QString serviceName() const;
    void setServiceName(const QString &name);
    QMap<QString, QByteArray> txDictionary() const;
    void setTxDictionary(const QMap<QString, QByteArray> &txt);

    // All IPv4 addresses of the device (dotted) and the one chosen to talk to. Setting a chosen
    // address starts watching its reachability; an empty one stops watching (status -1).
    void setIp4Addresses(const QStringList &all, const QString &chosen);
    QString ip4AddressString() const;
    QStringList ip4Addresses() const;
    QString addressesDisplayString() const;

    // The SMB port when it is not the standard one (0): test servers listen on a port of their own.
    void setSmbPort(quint16 port);
    // The device as the share service addresses it: "192.168.1.20" or "127.0.0.1:4455".
    QString shareHost() const;
    // Whether host (as a share service's network address names it) is one of this device's
    // addresses.
    bool servesHost(const QString &host) const;

    QStringList publicShares() const;
    QMap<QString, QString> mountedShares() const; // share name -> mount path
    int connectionStatus() const { return m_status.load(); }
    bool isStopped() const { return m_stopped.load(); }

    void setListingTiming(const PMShareListingTiming &timing);

    // Asks the device for its public shares until it names some, the listing times out, the
    // object is stopped or the device becomes unreachable; does not ask at all unless the device
    // is reachable. Replaces publicShares. False with the "no public shares" error when none.
    bool updateSharesListSync(PMShareServiceError *error);
    // Mounts a share of the last listing as guest. A share the listing did not return, or a
    // stopped object: false with the "share not found" error, without touching the network. A
    // failed mount: false, error left null (the share service logged why).
    bool mountShareSync(const QString &share, PMShareServiceError *error);
    // Unmounts a share this object mounted. True when it is not mounted afterwards, or when
    // there is nothing this object could unmount.
    bool unmountShareSync(const QString &share);
    // Unmounts every public share, going on after failures; true only when all succeeded.
    bool unmountAllSharesSync();

    // One way: ends share polling, refuses mounts and stops watching reachability.
    void stop();

    // Reads reachability again; called when the network changed. Main thread.
    void refreshReachability();

Q_SIGNALS:
    // The status went to NotReachable. Emitted on the main thread.
    void becameUnreachable(PMNetServiceObject *service);

private:
    void setStatus(int status);
    void startWatching();
    void stopWatching();
    // Waits for up to delay, ending early when stopped or no longer reachable.
    void pause(std::chrono::milliseconds delay);
    void wakePause();

    PMShareService *m_shareService;
    PMReachability *m_reachability;

    mutable QMutex m_lock; // the fields below
    PMServiceRecord m_record;
    QMap<QString, QByteArray> m_txt;
    QStringList m_addresses;
    QString m_chosenAddress;
    quint16 m_smbPort = 0;
    QStringList m_publicShares;
    QMap<QString, QString> m_mountedShares;
    PMShareListingTiming m_timing;

    std::atomic<int> m_status { NotWatched };
    std::atomic<bool> m_stopped { false };
    QMetaObject::Connection m_reachabilityConnection;

    std::mutex m_pauseLock;
    std::condition_variable m_pauseWake;
};

using PMNetServicePtr = QSharedPointer<PMNetServiceObject>;
Q_DECLARE_METATYPE(PMNetServicePtr)
