#include "netstorage/PMQtAvahiPoll.h"

#include <QSocketNotifier>
#include <QTimer>

#include <sys/time.h>

#include <chrono>
#include <memory>

// Avahi declares these types opaque; each poll implementation defines them.
struct AvahiWatch {
    int fd = -1;
    AvahiWatchEvent wanted = static_cast<AvahiWatchEvent>(0);
    AvahiWatchEvent happened = static_cast<AvahiWatchEvent>(0);
    AvahiWatchCallback callback = nullptr;
    void *userdata = nullptr;
    QSocketNotifier *reader = nullptr;
    QSocketNotifier *writer = nullptr;
};

struct AvahiTimeout {
    QTimer *timer = nullptr;
    AvahiTimeoutCallback callback = nullptr;
    void *userdata = nullptr;
};

namespace {

// Avahi may free a watch or time-out from within its own callback, that is from within the
// notifier's or timer's signal: the Qt object is then deleted later, never under its emitter.
void retire(QObject *object)
{
    if (!object)
        return;
    object->disconnect();
    if (auto *notifier = qobject_cast<QSocketNotifier *>(object))
        notifier->setEnabled(false);
    if (auto *timer = qobject_cast<QTimer *>(object))
        timer->stop();
    object->deleteLater();
}

void fire(AvahiWatch *watch, AvahiWatchEvent event)
{
    watch->happened = event;
    watch->callback(watch, watch->fd, event, watch->userdata);
}

void applyEvents(AvahiWatch *watch, AvahiWatchEvent events)
{
    watch->wanted = events;
    watch->reader->setEnabled(events & AVAHI_WATCH_IN);
    watch->writer->setEnabled(events & AVAHI_WATCH_OUT);
}

AvahiWatch *watchNew(const AvahiPoll *, int fd, AvahiWatchEvent events, AvahiWatchCallback callback, void *userdata)
{
    auto *watch = new AvahiWatch;
    watch->fd = fd;
    watch->callback = callback;
    watch->userdata = userdata;
    watch->reader = new QSocketNotifier(fd, QSocketNotifier::Read);
    watch->writer = new QSocketNotifier(fd, QSocketNotifier::Write);
    QObject::connect(
        watch->reader, &QSocketNotifier::activated, watch->reader, [watch] { fire(watch, AVAHI_WATCH_IN); });
    QObject::connect(
        watch->writer, &QSocketNotifier::activated, watch->writer, [watch] { fire(watch, AVAHI_WATCH_OUT); });
    applyEvents(watch, events);
    return watch;
}

void watchUpdate(AvahiWatch *watch, AvahiWatchEvent events)
{
    applyEvents(watch, events);
}

AvahiWatchEvent watchGetEvents(AvahiWatch *watch)
{
    return watch->happened;
}

void watchFree(AvahiWatch *watch)
{
    retire(watch->reader);
    retire(watch->writer);
    delete watch;
}

void armTimeout(AvahiTimeout *timeout, const struct timeval *when)
{
    if (!when) {
        timeout->timer->stop(); // a null time disables the time-out
        return;
    }
    struct timeval now = {};
    gettimeofday(&now, nullptr);
    const qint64 ms = (qint64(when->tv_sec) - now.tv_sec) * 1000 + (qint64(when->tv_usec) - now.tv_usec) / 1000;
    timeout->timer->start(std::chrono::milliseconds(std::max<qint64>(0, ms)));
}

AvahiTimeout *timeoutNew(const AvahiPoll *, const struct timeval *when, AvahiTimeoutCallback callback, void *userdata)
{
    auto *timeout = new AvahiTimeout;
    timeout->callback = callback;
    timeout->userdata = userdata;
    timeout->timer = new QTimer;
    timeout->timer->setSingleShot(true);
    timeout->timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(
        timeout->timer, &QTimer::timeout, timeout->timer, [timeout] { timeout->callback(timeout, timeout->userdata); });
    armTimeout(timeout, when);
    return timeout;
}

void timeoutUpdate(AvahiTimeout *timeout, const struct timeval *when)
{
    armTimeout(timeout, when);
}

void timeoutFree(AvahiTimeout *timeout)
{
    retire(timeout->timer);
    delete timeout;
}

} // namespace

PMQtAvahiPoll::PMQtAvahiPoll()
{
    m_poll.userdata = this;
    m_poll.watch_new = watchNew;
    m_poll.watch_update = watchUpdate;
    m_poll.watch_get_events = watchGetEvents;
    m_poll.watch_free = watchFree;
    m_poll.timeout_new = timeoutNew;
    m_poll.timeout_update = timeoutUpdate;
    m_poll.timeout_free = timeoutFree;
}

PMQtAvahiPoll::~PMQtAvahiPoll() = default;
