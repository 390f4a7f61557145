// Stand-ins for the sync controller's collaborators: an owner that records what it is sent,
// and job phases that record their calls and can be held, made to fail or made to throw.
#pragma once

#include "agent/sync/PMSyncController.h"
#include "agent/sync/PMSyncControllerOwner.h"
#include "agent/sync/PMSyncJobPhases.h"
#include "support/TestEnvironment.h"

#include <QList>
#include <QStringList>
#include <QVariantMap>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <stdexcept>

namespace synctest {

// Copies that share no list data with the original, which another thread keeps appending to.
template<typename T> QList<T> detachedCopy(const QList<T> &list)
{
    return QList<T>(list.cbegin(), list.cend());
}

struct Notification {
    bool forced;
    QVariantMap progress;
};

class RecordingOwner : public PMSyncControllerOwner {
public:
    void sendActivityNotification(bool forced, const QVariantMap &progress) override
    {
        std::lock_guard lock(m_mutex);
        m_notifications.append({ forced, progress });
    }
    void addContinuousSyncItems(const QStringList &paths) override
    {
        std::lock_guard lock(m_mutex);
        m_handedBack.append(paths);
    }
    void showLog() override
    {
        std::lock_guard lock(m_mutex);
        ++m_logShown;
    }

    QList<Notification> notifications() const
    {
        std::lock_guard lock(m_mutex);
        return detachedCopy(m_notifications);
    }
    // The activity types of the forced notifications, in order.
    QList<int> forcedActivities() const
    {
        QList<int> types;
        for (const Notification &n : notifications()) {
            if (n.forced)
                types.append(n.progress.value(QStringLiteral("syncActivityType")).toInt());
        }
        return types;
    }
    int logShown() const
    {
        std::lock_guard lock(m_mutex);
        return m_logShown;
    }

private:
    mutable std::mutex m_mutex;
    QList<Notification> m_notifications;
    QStringList m_handedBack;
    int m_logShown = 0;
};

// Shared by the test and the phases object the controller owns.
struct PhaseScript {
    std::mutex mutex;
    std::condition_variable changed;
    QStringList calls; // "setup", "prepare", "items:<paths or full>", "finish", "cleanup", "report:<0|1>", "list:<...>"
    bool holdItems = false; // syncThreadSyncItems waits until released (or a cancel is pending)
    bool holdListUpdate = false;
    bool itemsWaiting = false; // a held call has started
    int throwOnPrepare = 0; // the next n preparations throw
    bool prepareResult = true;
    std::function<void(PMSyncController &)> duringItems; // runs on the worker inside the item walk

    void record(const QString &call)
    {
        std::lock_guard lock(mutex);
        calls.append(call);
        changed.notify_all();
    }
    QStringList snapshot()
    {
        std::lock_guard lock(mutex);
        return detachedCopy(calls);
    }
    int count(const QString &prefix)
    {
        int n = 0;
        const QStringList all = snapshot();
        for (const QString &call : all)
            n += call.startsWith(prefix) ? 1 : 0;
        return n;
    }
    void release()
    {
        std::lock_guard lock(mutex);
        holdItems = false;
        holdListUpdate = false;
        changed.notify_all();
    }
    bool waiting()
    {
        std::lock_guard lock(mutex);
        return itemsWaiting;
    }
};

class ScriptedPhases : public PMSyncJobPhases {
public:
    ScriptedPhases(PhaseScript &script, PMSyncController &controller)
        : m_script(script)
        , m_controller(controller)
    {
    }

    void syncThreadBasicSetup() override { m_script.record(QStringLiteral("setup")); }
    bool syncThreadPrepareFolders() override
    {
        m_script.record(QStringLiteral("prepare"));
        {
            std::lock_guard lock(m_script.mutex);
            if (m_script.throwOnPrepare > 0) {
                --m_script.throwOnPrepare;
                throw std::runtime_error("disk exploded");
            }
        }
        return m_script.prepareResult;
    }
    bool syncThreadSyncItems(const std::optional<QStringList> &paths) override
    {
        m_script.record(QStringLiteral("items:") + (paths ? paths->join(QLatin1Char(',')) : QStringLiteral("full")));
        if (m_script.duringItems)
            m_script.duringItems(m_controller);
        hold(&PhaseScript::holdItems);
        return !m_controller.cancelPending();
    }
    bool syncThreadFinishSync() override
    {
        m_script.record(QStringLiteral("finish"));
        return true;
    }
    bool syncThreadCleanupAfterSync() override
    {
        m_script.record(QStringLiteral("cleanup"));
        return true;
    }
    void syncThreadReportResults(bool success) override
    {
        m_script.record(QStringLiteral("report:") + (success ? QLatin1Char('1') : QLatin1Char('0')));
    }
    void threadDoSyncListUpdate(const QStringList &syncList) override
    {
        m_script.record(QStringLiteral("list:") + syncList.join(QLatin1Char(',')));
        hold(&PhaseScript::holdListUpdate);
    }

private:
    void hold(bool PhaseScript::*flag)
    {
        std::unique_lock lock(m_script.mutex);
        m_script.itemsWaiting = m_script.*flag;
        m_script.changed.notify_all();
        // A pending cancel ends the wait, as it ends a real item walk.
        while (m_script.*flag && !m_controller.cancelPending())
            m_script.changed.wait_for(lock, std::chrono::milliseconds(20));
        m_script.itemsWaiting = false;
    }

    PhaseScript &m_script;
    PMSyncController &m_controller;
};

inline PMSyncController::PhasesFactory phasesFor(PhaseScript &script)
{
    return [&script](PMSyncController &controller) { return std::make_unique<ScriptedPhases>(script, controller); };
}

// Starts one full job and waits until it reported its end and the worker is idle; answers the
// activity it ended with (6 completed, 5 failed), or -1 when it did not end in 30 s.
inline int syncToTheEnd(PMSyncController &controller, const RecordingOwner &owner)
{
    const qsizetype before = owner.forcedActivities().size();
    controller.sync();
    int ended = -1;
    testsupport::waitFor(
        [&] {
            for (int activity : owner.forcedActivities().mid(before))
                if (activity == PMSyncController::kActivityCompleted || activity == PMSyncController::kActivityFailed)
                    ended = activity;
            return ended != -1 && !controller.busy();
        },
        std::chrono::seconds(30));
    return ended;
}

} // namespace synctest
