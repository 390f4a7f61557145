#include "netstorage/PMBonjourDiscoveryManager.h"

#include "netstorage/PMQtAvahiPoll.h"
#include "netstorage/PMReachability.h"
#include "netstorage/PMVersionComparator.h"

#include <QLoggingCategory>
#include <QTimer>

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>

Q_LOGGING_CATEGORY(lcDiscovery, "pellmere.netstorage.discovery")

namespace {

QString text(const char *utf8)
{
    return utf8 ? QString::fromUtf8(utf8) : QString();
}

QMap<QString, QByteArray> decodeTxt(AvahiStringList *list)
{
    QMap<QString, QByteArray> txt;
    for (AvahiStringList *entry = list; entry; entry = avahi_string_list_get_next(entry)) {
        char *key = nullptr;
        char *value = nullptr;
        size_t size = 0;
        if (avahi_string_list_get_pair(entry, &key, &value, &size) != 0)
            continue;
        txt.insert(QString::fromUtf8(key), value ? QByteArray(value, qsizetype(size)) : QByteArray());
        avahi_free(key);
        avahi_free(value);
    }
    return txt;
}

} // namespace

// The C callbacks of Avahi, forwarding to the manager given as user data.
struct PMBonjourDiscoveryManager::AvahiCallbacks {
    static void client(AvahiClient *client, AvahiClientState state, void *userdata)
    {
        auto *self = static_cast<PMBonjourDiscoveryManager *>(userdata);
        // Avahi reports the first state from within avahi_client_new, before it returns.
        if (!self->m_client)
            self->m_client = client;
        self->clientStateChanged(state);
    }

    static void browser(AvahiServiceBrowser *, AvahiIfIndex interfaceIndex, AvahiProtocol protocol,
        AvahiBrowserEvent event, const char *name, const char *type, const char *domain, AvahiLookupResultFlags,
        void *userdata)
    {
        static_cast<PMBonjourDiscoveryManager *>(userdata)->browserEvent(
            event, interfaceIndex, protocol, text(name), text(type), text(domain));
    }

    static void resolver(AvahiServiceResolver *resolver, AvahiIfIndex, AvahiProtocol, AvahiResolverEvent event,
        const char *, const char *, const char *, const char *, const AvahiAddress *address, uint16_t,
        AvahiStringList *txt, AvahiLookupResultFlags, void *userdata)
    {
        auto *self = static_cast<PMBonjourDiscoveryManager *>(userdata);
        QString addressText;
        bool isIPv4 = false;
        if (event == AVAHI_RESOLVER_FOUND && address) {
            char buffer[AVAHI_ADDRESS_STR_MAX] = {};
            avahi_address_snprint(buffer, sizeof buffer, address);
            addressText = QString::fromLatin1(buffer);
            isIPv4 = address->proto == AVAHI_PROTO_INET;
        }
        self->resolved(resolver, event == AVAHI_RESOLVER_FOUND, addressText, isIPv4,
            event == AVAHI_RESOLVER_FOUND ? decodeTxt(txt) : QMap<QString, QByteArray>());
    }
};

PMBonjourDiscoveryManager::PMBonjourDiscoveryManager(
    PMShareService *shareService, PMReachability *reachability, QObject *parent)
    : QObject(parent)
    , m_shareService(shareService)
    , m_reachability(reachability)
    , m_poll(std::make_unique<PMQtAvahiPoll>())
{
    qRegisterMetaType<PMNetServicePtr>();
}

PMBonjourDiscoveryManager::~PMBonjourDiscoveryManager()
{
    stopListening();
}

void PMBonjourDiscoveryManager::startListening()
{
    if (m_listening)
        return;
    m_listening = true;
    connectClient();
}

void PMBonjourDiscoveryManager::stopListening()
{
    m_listening = false;
    dropClient();
    forgetAll(false);
}

bool PMBonjourDiscoveryManager::isValidDevice(const QMap<QString, QByteArray> &txt)
{
    if (txt.contains(kTxtKeyModel)) {
        const QString model = QString::fromUtf8(txt.value(kTxtKeyModel));
        return model == kModelA || model == kModelB || model == kModelC;
    }
    if (txt.contains(kTxtKeySerial) && txt.contains(kTxtKeySSID)) {
        const QString version = QString::fromUtf8(txt.value(kTxtKeyVersion));
        return PMVersionComparator::compareVersion(kMinimumSupportedFirmwareVersion, version) == 0;
    }
    return false;
}

void PMBonjourDiscoveryManager::connectClient()
{
    int error = 0;
    AvahiClient *client = avahi_client_new(m_poll->poll(), AVAHI_CLIENT_NO_FAIL, &AvahiCallbacks::client, this, &error);
    if (!client) {
        qCWarning(lcDiscovery) << "cannot reach Avahi:" << avahi_strerror(error) << "- trying again in"
                               << m_reconnectDelay.count() << "ms";
        m_client = nullptr;
        QTimer::singleShot(m_reconnectDelay, this, [this] {
            if (m_listening && !m_client)
                connectClient();
        });
        return;
    }
    m_client = client;
}

void PMBonjourDiscoveryManager::dropClient()
{
    // Freeing the client frees its browser and resolvers.
    m_browser = nullptr;
    m_resolvers.clear();
    if (m_client) {
        avahi_client_free(m_client);
        m_client = nullptr;
    }
}

void PMBonjourDiscoveryManager::clientStateChanged(int state)
{
    switch (state) {
    case AVAHI_CLIENT_S_RUNNING:
        if (m_browser)
            return;
        m_browser = avahi_service_browser_new(m_client, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC,
            kServiceType.toUtf8().constData(), nullptr, AvahiLookupFlags(0), &AvahiCallbacks::browser, this);
        if (!m_browser)
            qCWarning(lcDiscovery) << "Got netServiceBrowser:didNotSearch: event; error ="
                                   << avahi_strerror(avahi_client_errno(m_client));
        else
            qCInfo(lcDiscovery) << "Got netServiceBrowserWillSearch: event.";
        return;
    case AVAHI_CLIENT_CONNECTING:
        qCInfo(lcDiscovery) << "the Avahi daemon is not running; network devices will be looked for when it starts";
        return;
    case AVAHI_CLIENT_FAILURE: {
        const int error = avahi_client_errno(m_client);
        qCWarning(lcDiscovery) << "lost the Avahi daemon:" << avahi_strerror(error) << "- waiting for it to return";
        // The client cannot be freed from within its own callback: start over once it returned.
        QTimer::singleShot(0, this, [this] {
            dropClient();
            forgetAll(true);
            if (m_listening)
                connectClient();
        });
        return;
    }
    default:
        return;
    }
}

void PMBonjourDiscoveryManager::browserEvent(
    int event, int interfaceIndex, int protocol, const QString &name, const QString &type, const QString &domain)
{
    switch (event) {
    case AVAHI_BROWSER_NEW:
        serviceFound({ name, type, domain, interfaceIndex, protocol });
        return;
    case AVAHI_BROWSER_REMOVE:
        serviceRemoved({ name, type, domain, interfaceIndex, protocol });
        return;
    case AVAHI_BROWSER_FAILURE:
        qCWarning(lcDiscovery) << "Got netServiceBrowser:didNotSearch: event; error ="
                               << avahi_strerror(avahi_client_errno(m_client));
        return;
    default:
        return; // all for now, cache exhausted: the pending burst is flushed anyway
    }
}

void PMBonjourDiscoveryManager::serviceFound(const PMServiceRecord &record)
{
    qCDebug(lcDiscovery).noquote() << "got netServiceBrowser:didFindService:moreComing: event for" << record.name;
    auto count = m_counts.find(record.name);
    if (count != m_counts.end()) {
        ++*count;
        qCDebug(lcDiscovery).noquote() << "incremented reference count of net service object" << record.name
                                       << "to:" << *count;
    } else {
        m_counts.insert(record.name, 1);
        auto service = PMNetServiceObject::create(m_shareService, m_reachability);
        service->setNetService(record);
        m_toInsert.append(service);
        m_resolving.append(service);
        qCDebug(lcDiscovery).noquote() << "inserted new net service object for" << record.name;
    }
    scheduleFlush();
}

void PMBonjourDiscoveryManager::serviceRemoved(const PMServiceRecord &record)
{
    qCDebug(lcDiscovery).noquote() << "Got netServiceBrowser:didRemoveService:moreComing: event for" << record.name;
    auto count = m_counts.find(record.name);
    if (count == m_counts.end())
        return;
    --*count;
    qCDebug(lcDiscovery).noquote() << "Decremented reference count of net service object" << record.name << "is now"
                                   << *count;
    if (*count == 0) {
        m_counts.erase(count);
        const auto same
            = [&record](const PMNetServicePtr &service) { return service->netService().sameService(record); };
        m_toInsert.removeIf(same);
        for (const PMNetServicePtr &service : QList<PMNetServicePtr>(m_resolving)) {
            if (same(service)) {
                stopResolving(service);
                m_resolveAttempts.remove(service.get());
                service->stop();
                m_resolving.removeOne(service);
            }
        }
        for (const PMNetServicePtr &service : QList<PMNetServicePtr>(m_identified)) {
            if (same(service)) {
                service->stop();
                m_identified.removeOne(service);
                Q_EMIT netServiceDisappeared(service);
            }
        }
        qCDebug(lcDiscovery).noquote() << "Removed net service object for" << record.name;
    }
    scheduleFlush();
}

void PMBonjourDiscoveryManager::scheduleFlush()
{
    // Avahi has no "more coming" flag: the reports read in one pass of the event loop are one
    // burst, resolved together once it is over.
    if (m_flushScheduled)
        return;
    m_flushScheduled = true;
    QTimer::singleShot(0, this, [this] {
        m_flushScheduled = false;
        flushPendingInserts();
    });
}

void PMBonjourDiscoveryManager::flushPendingInserts()
{
    const QList<PMNetServicePtr> pending = std::exchange(m_toInsert, {});
    for (const PMNetServicePtr &service : pending)
        startResolving(service);
    if (!pending.isEmpty())
        qCDebug(lcDiscovery) << "Added" << pending.size() << "drive table objects to the servicesToInsertArray.";
}

void PMBonjourDiscoveryManager::startResolving(const PMNetServicePtr &service)
{
    if (!m_client || !m_resolving.contains(service))
        return;
    const PMServiceRecord record = service->netService();
    // Asked for any address, Avahi answers with whichever comes first, often the IPv6 one of
    // a device that has both. So ask for IPv4; only after that failed ask for any address,
    // which tells an IPv6-only device (rejected) from one that did not answer (asked again).
    const int attempt = m_resolveAttempts.value(service.get());
    const AvahiProtocol addressProtocol = attempt % 2 == 0 ? AVAHI_PROTO_INET : AVAHI_PROTO_UNSPEC;
    // On any interface: the one of the first report may be gone while others remain.
    AvahiServiceResolver *resolver = avahi_service_resolver_new(m_client, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC,
        record.name.toUtf8().constData(), record.type.toUtf8().constData(), record.domain.toUtf8().constData(),
        addressProtocol, AvahiLookupFlags(0), &AvahiCallbacks::resolver, this);
    if (!resolver) {
        qCWarning(lcDiscovery).noquote() << "cannot resolve" << record.name << ":"
                                         << avahi_strerror(avahi_client_errno(m_client));
        return;
    }
    m_resolvers.insert(resolver, service);
}

void PMBonjourDiscoveryManager::stopResolving(const PMNetServicePtr &service)
{
    for (auto it = m_resolvers.begin(); it != m_resolvers.end();) {
        if (it.value() == service) {
            avahi_service_resolver_free(it.key());
            it = m_resolvers.erase(it);
        } else {
            ++it;
        }
    }
}

void PMBonjourDiscoveryManager::resolved(AvahiServiceResolver *resolver, bool found, const QString &address,
    bool isIPv4, const QMap<QString, QByteArray> &txt)
{
    const PMNetServicePtr service = m_resolvers.take(resolver);
    avahi_service_resolver_free(resolver);
    if (!service || !m_resolving.contains(service))
        return;
    const QString name = service->netService().name;
    if (!found) {
        // Resolution is retried for as long as the service is there.
        qCInfo(lcDiscovery).noquote() << "resolving" << name << "failed; trying again";
        ++m_resolveAttempts[service.get()];
        // The IPv4 question failed: the other one may tell why at once, so no pause before it.
        QTimer::singleShot(
            m_resolveAttempts.value(service.get()) % 2 == 1 ? std::chrono::milliseconds(0) : m_retryDelay, this,
            [this, service] { startResolving(service); });
        return;
    }
    m_resolveAttempts.remove(service.get());
    m_resolving.removeOne(service);
    if (!isValidDevice(txt)) {
        qCInfo(lcDiscovery).noquote() << "ignoring" << name << ": not a supported device";
        Q_EMIT netServiceRejected(name);
        return;
    }
    // Avahi resolves one address per report; the rule for several is kept for when it gives more.
    const QStringList ip4 = isIPv4 ? QStringList { address } : QStringList();
    if (ip4.isEmpty()) {
        qCInfo(lcDiscovery).noquote() << "ignoring" << name << ": no IPv4 address";
        Q_EMIT netServiceRejected(name);
        return;
    }
    QString chosen;
    for (const QString &candidate : ip4)
        if (m_reachability->isReachable(QHostAddress(candidate)))
            chosen = candidate;
    if (chosen.isEmpty())
        chosen = ip4.first();
    service->setServiceName(name);
    service->setTxDictionary(txt);
    service->setIp4Addresses(ip4, chosen);
    m_identified.append(service);
    qCInfo(lcDiscovery).noquote() << "found network device" << name << "at" << chosen;
    Q_EMIT netServiceAppeared(service);
}

void PMBonjourDiscoveryManager::forgetAll(bool announce)
{
    const QList<PMNetServicePtr> gone = std::exchange(m_identified, {});
    for (const PMNetServicePtr &service : m_resolving)
        service->stop();
    m_counts.clear();
    m_resolveAttempts.clear();
    m_toInsert.clear();
    m_resolving.clear();
    if (!announce)
        return; // whoever holds them goes on using them
    for (const PMNetServicePtr &service : gone) {
        service->stop();
        Q_EMIT netServiceDisappeared(service);
    }
}
