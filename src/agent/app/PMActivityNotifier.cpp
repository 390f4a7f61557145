#include "agent/app/PMActivityNotifier.h"

#include "agent/log/PMAgentLog.h"
#include "protocol/PMNotificationEmitter.h"

PMActivityNotifier::PMActivityNotifier(
    protocol::PMNotificationEmitter *emitter, std::function<QVariantMap()> busyProgress, QObject *parent)
    : QObject(parent)
    , m_emitter(emitter)
    , m_busyProgress(std::move(busyProgress))
{
    m_syncActivityTimer.setInterval(kActivityPeriodMs);
    connect(&m_syncActivityTimer, &QTimer::timeout, this, &PMActivityNotifier::syncActivityTimerFired);
}

void PMActivityNotifier::start()
{
    m_syncActivityTimer.start();
}

void PMActivityNotifier::stop()
{
    m_syncActivityTimer.stop();
}

void PMActivityNotifier::sendActivityNotification(bool forced, const std::optional<QVariantMap> &dict)
{
    QVariantMap record = dict ? *dict : (m_busyProgress ? m_busyProgress() : QVariantMap());
    if (!forced && record.isEmpty())
        return;
    Q_EMIT activityReported(record);
    protocol::PMNotificationEmitter *emitter = m_emitter.load();
    if (!emitter)
        return;
    if (!emitter->post(kSyncInProgressNotification, kNotificationObject, record) && !m_failureLogged.exchange(true)) {
        // Once: the manager simply sees no progress; the sync itself goes on.
        PMAgentLog::logMessage(QStringLiteral("Cannot post progress notifications on the session bus."));
    }
}
