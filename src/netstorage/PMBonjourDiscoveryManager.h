// Finds the maker's network storage devices on the local network by DNS-SD (Avahi): browses
// their service type in the default domain, resolves each service found, keeps the supported
// devices (by their TXT record), picks a reachable IPv4 address, and announces each device
// as a PMNetServiceObject when it appears and again when it goes away.
//
//   PMBonjourDiscoveryManager discovery(&shareService, &reachability);
//   connect(&discovery, &PMBonjourDiscoveryManager::netServiceAppeared, ...);
//   discovery.startListening();
//
// A service the browser reports several times (once per interface) is one device, gone only
// when every report was withdrawn. When the Avahi daemon is absent or restarts this is
// logged, the devices known are announced as gone, and browsing resumes by itself when the
// daemon is back.
//
// Main thread: Avahi runs on its event loop (PMQtAvahiPoll) and the signals are emitted there.
#pragma once

#include "netstorage/PMNetServiceObject.h"

#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>

#include <chrono>
#include <memory>

class PMQtAvahiPoll;
class PMReachability;
class PMShareService;
struct AvahiClient;
struct AvahiServiceBrowser;
struct AvahiServiceResolver;

class PMBonjourDiscoveryManager : public QObject {
    Q_OBJECT

public:
    static inline const QString kServiceType = QStringLiteral("_skyvale_info._tcp");
    static inline const QString kTxtKeyModel = QStringLiteral("skyvaleModel");
    static inline const QString kTxtKeySerial = QStringLiteral("skyvaleSerial");
    static inline const QString kTxtKeySSID = QStringLiteral("skyvaleSSID");
    static inline const QString kTxtKeyVersion = QStringLiteral("skyvaleVersion");
    static inline const QString kMinimumSupportedFirmwareVersion = QStringLiteral("2.0.0.055");
    static inline const QString kModelA = QStringLiteral("QXA1");
    static inline const QString kModelB = QStringLiteral("QXB1");
    static inline const QString kModelC = QStringLiteral("QXC1");
    // The names the appearance and disappearance are known by in logs and to other programs.
    static inline const QString kNetServiceAppearedNotification
        = QStringLiteral("com.corvane.pellmere.PMDiscoveryNetServiceAppearedNotification");
    static inline const QString kNetServiceDisappearedNotification
        = QStringLiteral("com.corvane.pellmere.PMDiscoveryNetServiceDisappeareddNotification");
    static inline const QString kNetServiceKey = QStringLiteral("com.corvane.pellmere.PMDiscoveryNetServiceKey");

    // shareService and reachability are handed to every device object and must outlive them.
    PMBonjourDiscoveryManager(PMShareService *shareService, PMReachability *reachability, QObject *parent = nullptr);
    ~PMBonjourDiscoveryManager() override;

    // Starts browsing (or waiting for the daemon, logged). Listening again does nothing.
    void startListening();
    // Stops browsing and forgets every device without announcing it gone.
    void stopListening();
    bool isListening() const { return m_listening; }
    // Whether the daemon is there and the browser runs.
    bool isBrowsing() const { return m_browser != nullptr; }

    // How many reports of a service name the browser gave and has not withdrawn (one per
    // interface it was seen on); 0 for an unknown name.
    int reportCount(const QString &serviceName) const { return m_counts.value(serviceName); }

    // The devices announced and not gone yet.
    QList<PMNetServicePtr> identifiedServices() const { return m_identified; }

    // Supported: one of the three model codes, or (without a model key) a serial, an SSID and
    // exactly the minimum firmware version.
    static bool isValidDevice(const QMap<QString, QByteArray> &txt);

    // How long to wait before resolving a service again after a failed resolution.
    void setResolveRetryDelay(std::chrono::milliseconds delay) { m_retryDelay = delay; }
    // How long to wait before asking for Avahi again when even the system bus was not there.
    void setReconnectDelay(std::chrono::milliseconds delay) { m_reconnectDelay = delay; }

Q_SIGNALS:
    void netServiceAppeared(const PMNetServicePtr &service);
    void netServiceDisappeared(const PMNetServicePtr &service);
    // A resolved service was not announced: unsupported, or without an IPv4 address.
    void netServiceRejected(const QString &serviceName);

private:
    struct AvahiCallbacks;
    friend struct AvahiCallbacks;

    void connectClient();
    void dropClient();
    void clientStateChanged(int state);
    void browserEvent(
        int event, int interfaceIndex, int protocol, const QString &name, const QString &type, const QString &domain);
    void serviceFound(const PMServiceRecord &record);
    void serviceRemoved(const PMServiceRecord &record);
    void flushPendingInserts();
    void scheduleFlush();
    void startResolving(const PMNetServicePtr &service);
    void stopResolving(const PMNetServicePtr &service);
    void resolved(AvahiServiceResolver *resolver, bool found, const QString &address, bool isIPv4,
        const QMap<QString, QByteArray> &txt);
    void forgetAll(bool announce);

    PMShareService *m_shareService;
    PMReachability *m_reachability;
    std::unique_ptr<PMQtAvahiPoll> m_poll;
    AvahiClient *m_client = nullptr;
    AvahiServiceBrowser *m_browser = nullptr;
    bool m_listening = false;
    bool m_flushScheduled = false;
    std::chrono::milliseconds m_retryDelay { 1000 };
    std::chrono::milliseconds m_reconnectDelay { 5000 };

    QHash<QString, int> m_counts; // service name -> reports not withdrawn
    QList<PMNetServicePtr> m_toInsert;
    QList<PMNetServicePtr> m_resolving;
    QList<PMNetServicePtr> m_identified;
    QHash<AvahiServiceResolver *, PMNetServicePtr> m_resolvers;
    QHash<const PMNetServiceObject *, int> m_resolveAttempts; // failed resolutions of a service
};
