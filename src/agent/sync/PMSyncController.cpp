#include "agent/sync/PMSyncController.h"

#include "agent/copy/PMFileManager.h"
#include "agent/log/PMAgentLog.h"
#include "agent/log/PMLogController.h"
#include "agent/settings/PMConfigurationBatch.h"
#include "agent/settings/PMHostUserIdentity.h"
#include "agent/sync/PMDriveBusyHold.h"
#include "agent/sync/PMNetworkDrive.h"
#include "agent/sync/PMSyncControllerOwner.h"
#include "agent/sync/PMSyncJobPhases.h"
#include "platform/HeadlessAlertPresenter.h"
#include "platform/PlatformPaths.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QPointer>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <exception>

Q_LOGGING_CATEGORY(lcSync, "pellmere.sync")

namespace {

constexpr unsigned kCancelPendingBit = 1;
constexpr unsigned kCancelRValBit = 2;
constexpr auto kQueuePollInterval = std::chrono::seconds(1);

const QString kSync = QStringLiteral("sync");
const QString kContinuousSync = QStringLiteral("continuous-sync");
const QString kActivateContinuous = QStringLiteral("activate-continuous-sync");
const QString kDeactivateContinuous = QStringLiteral("deactivate-continuous-sync");
const QString kUpdateSyncList = QStringLiteral("updateSyncList");
const QString kRemoveSync = QStringLiteral("remove-sync");
const QString kDeath = QStringLiteral("death");
const QString kChangeDeviceFilter = QStringLiteral("change-sync-devicefilter");

QVariantMap taskRecord(const QString &operation, int activityType)
{
    return { { PMSyncController::kOperationKey, operation },
        { PMSyncProgress::kActivityTypeKey, qint32(activityType) } };
}

QString describe(const QVariant &value)
{
    QString text;
    QDebug(&text).nospace().noquote() << value;
    return text;
}

} // namespace

PMSyncController::PMSyncController(const QString &mountPoint, const QString &vendor, const QString &uuid,
    const QString &userId, PMSyncControllerOwner *owner, const PhasesFactory &makePhases,
    platform::AlertPresenter *alerts)
    : m_mountPoint(mountPoint)
    , m_vendor(vendor)
    , m_uuid(uuid)
    , m_owner(owner)
    , m_alerts(alerts)
    , m_config(std::make_unique<PMConfigurationFile>(mountPoint, PMConfigurationFile::kSyncTypePerUser, userId))
    , m_qualifier(std::make_unique<PMDriveQualifier>(mountPoint, uuid, *m_config))
    , m_mainThreadContext(std::make_unique<QObject>())
{
    m_continuousSyncState.store(m_config->isContinuousEnabledForUser());
    m_networkDevice.store(PMNetworkDrive::isNetworkMount(mountPoint));
    if (makePhases)
        m_phases = makePhases(*this);
}

std::unique_ptr<PMSyncController> PMSyncController::controllerForMountPoint(const QString &mountPoint,
    const QString &vendor, const QString &uuid, const QString &bsdNode, PMSyncControllerOwner *owner,
    const PhasesFactory &makePhases, platform::AlertPresenter *alerts)
{
    Q_UNUSED(bsdNode)
    return std::make_unique<PMSyncController>(
        mountPoint, vendor, uuid, PMHostUserIdentity::uniqueHostUserId(), owner, makePhases, alerts);
}

PMSyncController::~PMSyncController()
{
    debugMessage(QStringLiteral("-[KRTSyncController %1 dealloc]").arg(m_mountPoint));
    requestStop();
    if (m_worker)
        ::pthread_join(*m_worker, nullptr);
    m_phases.reset();
}

void PMSyncController::requestStop()
{
    // Stop first: a job ended by the cancel must find the worker told to end, not the next task.
    {
        std::lock_guard lock(m_taskLock);
        m_stopRequested.store(true);
    }
    // A job still running stops at its next cancel check; an alert wait ends unanswered.
    setCancelPending(true, false);
    m_wakeWorker.notify_all();
    {
        std::lock_guard lock(m_alertMutex);
        if (const auto wait = m_pendingAlert.lock()) {
            std::lock_guard waitLock(wait->mutex);
            wait->abandoned = true;
            wait->condition.notify_all();
        }
    }
}

// ---- Job queue and worker ---------------------------------------------------------------

void PMSyncController::appendTaskLocked(QVariantMap record, QStringList paths)
{
    m_taskList.push_back(Task { m_nextTaskId++, std::move(record), std::move(paths) });
    // The queue is still polled each second; waking the worker saves a continuous job up
    // to that second.
    m_wakeWorker.notify_one();
}

void PMSyncController::appendTask(QVariantMap record, QStringList paths)
{
    {
        std::lock_guard lock(m_taskLock);
        appendTaskLocked(std::move(record), std::move(paths));
    }
    conditionalDetachMasterThread();
}

void PMSyncController::conditionalDetachMasterThread()
{
    std::lock_guard lock(m_taskLock);
    if (m_threadDetached || m_stopRequested.load())
        return;
    m_threadDetached = true;
    pthread_attr_t attributes;
    ::pthread_attr_init(&attributes);
    ::pthread_attr_setstacksize(&attributes, kWorkerStackSize);
    pthread_t thread;
    const int error = ::pthread_create(&thread, &attributes, &PMSyncController::masterThreadEntry, this);
    ::pthread_attr_destroy(&attributes);
    if (error != 0) {
        // Jobs stay queued; nothing can run them, as after "death".
        logMessage(QStringLiteral("Unable to start the sync thread for %1: %2")
                       .arg(m_mountPoint, QString::fromLocal8Bit(::strerror(error))));
        m_workerEnded.store(true);
        return;
    }
    ::pthread_setname_np(thread, "PMSyncWorker");
    m_worker = thread;
}

void *PMSyncController::masterThreadEntry(void *controller)
{
    static_cast<PMSyncController *>(controller)->masterThread();
    return nullptr;
}

void PMSyncController::sync()
{
    debugMessage(QStringLiteral("----- sync:"));
    appendTask(taskRecord(kSync, kActivitySyncing));
}

void PMSyncController::continuousSyncNow(const QStringList &paths)
{
    appendTask(taskRecord(kContinuousSync, kActivitySyncing), paths);
}

void PMSyncController::updateSyncList(const QStringList &syncList)
{
    {
        std::lock_guard lock(m_stateMutex);
        m_shadowedSyncList = syncList;
    }
    appendTask(taskRecord(kUpdateSyncList, kActivitySettings), syncList);
}

void PMSyncController::removeDriveSync()
{
    appendTask(taskRecord(kRemoveSync, kActivitySettings));
    setContinuousSyncState(false);
}

void PMSyncController::driveDisappeared()
{
    QVariantMap task = taskRecord(kDeath, kActivitySyncing);
    task.insert(PMSyncProgress::kFailureTypeKey, qint32(kFailureDriveGone));
    appendTask(std::move(task));
}

void PMSyncController::setCategoryState(
    bool (PMConfigurationFile::*setter)(bool), bool enabled, const QString &setterName, const QString &category)
{
    {
        // The setting and its task enter together, so the worker never sees one without the other.
        std::lock_guard lock(m_taskLock);
        (m_config.get()->*setter)(enabled);
        debugMessage(QStringLiteral("----- %1:").arg(setterName));
        const QString operation
            = (enabled ? QStringLiteral("activate-sync-") : QStringLiteral("deactivate-sync-")) + category;
        appendTaskLocked(taskRecord(operation, kActivitySettings));
    }
    conditionalDetachMasterThread();
}

void PMSyncController::setSyncMoviesState(bool enabled)
{
    setCategoryState(&PMConfigurationFile::setSyncMoviesEnabledForUser, enabled, QStringLiteral("setSyncMoviesState"),
        QStringLiteral("movies"));
}

void PMSyncController::setSyncMusicState(bool enabled)
{
    setCategoryState(&PMConfigurationFile::setSyncMusicEnabledForUser, enabled, QStringLiteral("setSyncMusicState"),
        QStringLiteral("music"));
}

void PMSyncController::setSyncPicturesState(bool enabled)
{
    setCategoryState(&PMConfigurationFile::setSyncPicturesEnabledForUser, enabled,
        QStringLiteral("setSyncPicturesState"), QStringLiteral("pictures"));
}

void PMSyncController::setSyncDocumentsState(bool enabled)
{
    setCategoryState(&PMConfigurationFile::setSyncDocumentsEnabledForUser, enabled,
        QStringLiteral("setSyncDocumentsState"), QStringLiteral("documents"));
}

void PMSyncController::setSyncDeviceFilter(qint32 filter)
{
    {
        std::lock_guard lock(m_taskLock);
        m_config->setSyncDeviceFilterForUser(filter);
        debugMessage(QStringLiteral("----- setSyncDeviceFilter:"));
        appendTaskLocked(taskRecord(kChangeDeviceFilter, kActivitySettings));
    }
    conditionalDetachMasterThread();
}

void PMSyncController::setContinuousSyncState(bool enabled, bool activate)
{
    if (enabled != m_continuousSyncState.load())
        setCancelPending(false, false);
    {
        std::lock_guard lock(m_taskLock);
        m_config->setContinuousEnabledForUser(enabled);
        m_continuousSyncState.store(enabled);
        debugMessage(QStringLiteral("----- setContinuousSyncState:"));
        if (!enabled)
            appendTaskLocked(taskRecord(kDeactivateContinuous, kActivitySettings));
        else if (activate && m_config->isParticipatingEnabledForUser())
            appendTaskLocked(taskRecord(kActivateContinuous, kActivitySettings));
    }
    conditionalDetachMasterThread();
}

void PMSyncController::removeTask(quint64 id)
{
    std::lock_guard lock(m_taskLock);
    // The task may be gone already ("death" empties the queue); never remove another one.
    if (!m_taskList.empty() && m_taskList.front().id == id)
        m_taskList.pop_front();
}

void PMSyncController::masterThread()
{
    while (!stopRequested()) {
        quint64 taskId = 0;
        QString operation;
        try {
            if (activityType() == kActivitySettings) {
                setActivityType(kActivityIdle);
                sendActivityNotification(true);
            }
            Task task;
            {
                std::unique_lock lock(m_taskLock);
                if (stopRequested())
                    break;
                if (m_taskList.empty()) {
                    // Polled; a new task or the controller's destruction wakes the worker early.
                    m_wakeWorker.wait_for(
                        lock, kQueuePollInterval, [this] { return stopRequested() || !m_taskList.empty(); });
                    continue;
                }
                task = m_taskList.front();
                taskId = task.id;
            }
            operation = task.record.value(kOperationKey).toString();
            setActivityType(task.record.value(PMSyncProgress::kActivityTypeKey).toInt());
            setFailureType(task.record.value(PMSyncProgress::kFailureTypeKey).toInt());
            debugMessage(QStringLiteral("masterThread: task operation=%1").arg(operation));
            initForNewJob();
            {
                // The drive stays mounted while a task works on it (a plain umount fails).
                const PMDriveBusyHold hold(operation == kDeath ? QString() : m_mountPoint);
                if (!runTask(task))
                    break;
            }
            debugMessage(QStringLiteral("masterThread: removing operation %1").arg(operation));
            removeTask(taskId);
            flushLog();
        } catch (const std::exception &exception) {
            // Retrying would fail the same way forever: the task is dropped and the queue goes on.
            qCWarning(lcSync).noquote() << QStringLiteral("KRTSyncController.masterThread exception: %1")
                                               .arg(QString::fromLocal8Bit(exception.what()));
            logMessage(QStringLiteral("KRTSyncController.masterThread exception: %1 (task %2 dropped)")
                           .arg(QString::fromLocal8Bit(exception.what()), operation));
            removeTask(taskId);
        } catch (...) {
            qCWarning(lcSync) << "KRTSyncController.masterThread exception: unknown exception";
            logMessage(QStringLiteral("KRTSyncController.masterThread exception: unknown exception (task %1 dropped)")
                           .arg(operation));
            removeTask(taskId);
        }
    }
    m_workerEnded.store(true);
}

bool PMSyncController::runTask(const Task &task)
{
    const QString operation = task.record.value(kOperationKey).toString();
    if (operation == kSync) {
        threadDoSync(std::nullopt);
        return true;
    }
    if (operation == kContinuousSync) {
        QStringList paths = task.paths;
        std::sort(paths.begin(), paths.end());
        paths.erase(std::unique(paths.begin(), paths.end()), paths.end());
        if (!paths.isEmpty()) {
            sendActivityNotification(true);
            threadDoSync(paths);
        }
        debugMessage(QStringLiteral("--- done continuous-sync ---"));
        return true;
    }
    if (operation == kActivateContinuous) {
        debugMessage(QStringLiteral("--- activate-continuous-sync ---"));
        threadDoSync(std::nullopt);
        debugMessage(QStringLiteral("--- done activate-continuous-sync ---"));
        return true;
    }
    sendActivityNotification(true);
    if (operation == kUpdateSyncList) {
        QStringList syncList = task.paths;
        for (QString &item : syncList)
            item = platform::PlatformPaths::abbreviateWithTilde(item);
        if (m_phases)
            m_phases->threadDoSyncListUpdate(syncList);
    } else if (operation == kRemoveSync) {
        m_config->removeSyncConfiguration();
    } else if (operation == kDeath) {
        debugMessage(QStringLiteral("masterThread: removing all tasks"));
        {
            std::lock_guard lock(m_taskLock);
            m_taskList.clear();
        }
        flushLog();
        setCancelPending(false, true);
        setActivityType(kActivityFailed);
        sendActivityNotification(true);
        return false;
    } else if (operation == kDeactivateContinuous || operation == kChangeDeviceFilter
        || operation.startsWith(QStringLiteral("activate-sync-"))
        || operation.startsWith(QStringLiteral("deactivate-sync-"))) {
        debugMessage(QStringLiteral("--- %1 ---").arg(operation));
    }
    return true;
}

void PMSyncController::threadDoSync(const std::optional<QStringList> &paths)
{
    if (m_syncInProgress.load()) {
        if (paths && m_owner)
            m_owner->addContinuousSyncItems(*paths);
        return;
    }
    setActivityType(kActivityPreparing);
    sendActivityNotification(true);
    m_syncInProgress.store(true);
    m_doingContinuousSync.store(paths.has_value());
    // However the job ends (a phase may throw), the controller must not stay "in progress":
    // every later sync would otherwise return at once.
    struct InProgressReset {
        PMSyncController *controller;
        ~InProgressReset()
        {
            controller->m_syncInProgress.store(false);
            controller->m_doingContinuousSync.store(false);
        }
    } reset { this };

    bool success = false;
    if (m_phases) {
        m_phases->syncThreadBasicSetup();
        if (m_phases->syncThreadPrepareFolders()) {
            setActivityType(kActivitySyncing);
            sendActivityNotification(true);
            if (m_phases->syncThreadSyncItems(paths)) {
                m_phases->syncThreadFinishSync();
                success = true;
            }
        }
    }
    setActivityType(kActivityFinishing);
    sendActivityNotification(true);
    if (m_phases) {
        m_phases->syncThreadCleanupAfterSync();
        m_phases->syncThreadReportResults(success);
    }
    initForNewJob();
    // The agent shows no progress display of its own; the manager follows the progress record.
}

void PMSyncController::mainThreadAddContinuousSyncItems(const QStringList &paths)
{
    if (m_owner)
        m_owner->addContinuousSyncItems(paths);
}

void PMSyncController::sendActivityNotification(bool forced)
{
    const QVariantMap record = getCurrentProgressDict();
    if (m_owner)
        m_owner->sendActivityNotification(forced, record);
}

// ---- Settings ---------------------------------------------------------------------------

// clang-format off
bool PMSyncController::continuousSyncState() const { return m_config->isContinuousEnabledForUser(); }
bool PMSyncController::continuousSyncStateForUniqueHostID(const QString &id) const { return m_config->isContinuousEnabledForUniqueHostID(id); }
bool PMSyncController::syncMoviesState() const { return m_config->isSyncMoviesEnabledForUser(); }
bool PMSyncController::syncMoviesStateForUniqueHostID(const QString &id) const { return m_config->isSyncMoviesEnabledForUniqueHostID(id); }
bool PMSyncController::syncMusicState() const { return m_config->isSyncMusicEnabledForUser(); }
bool PMSyncController::syncMusicStateForUniqueHostID(const QString &id) const { return m_config->isSyncMusicEnabledForUniqueHostID(id); }
bool PMSyncController::syncPicturesState() const { return m_config->isSyncPicturesEnabledForUser(); }
bool PMSyncController::syncPicturesStateForUniqueHostID(const QString &id) const { return m_config->isSyncPicturesEnabledForUniqueHostID(id); }
bool PMSyncController::syncDocumentsState() const { return m_config->isSyncDocumentsEnabledForUser(); }
bool PMSyncController::syncDocumentsStateForUniqueHostID(const QString &id) const { return m_config->isSyncDocumentsEnabledForUniqueHostID(id); }
qint32 PMSyncController::syncDeviceFilter() const { return m_config->getSyncDeviceFilterForUser(); }
qint32 PMSyncController::syncDeviceFilterForUniqueHostID(const QString &id) const { return m_config->getSyncDeviceFilterForUniqueHostID(id); }
bool PMSyncController::participateSyncState() const { return m_config->isParticipatingEnabledForUser(); }
bool PMSyncController::participateSyncStateForUniqueHostID(const QString &id) const { return m_config->isParticipatingEnabledForUniqueHostID(id); }
QDateTime PMSyncController::lastSyncTimeForUniqueHostID(const QString &id) const { return m_config->lastSyncDateForUniqueHostID(id); }
QString PMSyncController::computerNameForUniqueHostID(const QString &id) const { return m_config->computerNameForUniqueHostID(id); }
bool PMSyncController::hasSyncConfiguration() const { return m_config->hasSyncConfiguration(); }
bool PMSyncController::isParticipatingInSync() const { return m_config->isParticipatingEnabledForUser(); }
// clang-format on

void PMSyncController::setParticipateSyncState(bool enabled)
{
    PMConfigurationBatch batch(*m_config);
    m_config->setParticipatingEnabledForUser(enabled);
    if (enabled)
        m_config->addUserToList();
}

void PMSyncController::setQuietSyncState(bool enabled)
{
    m_config->setQuietEnabledForUser(enabled);
    m_quietSyncState.store(enabled);
}

void PMSyncController::setPreviewEnabledState(bool enabled)
{
    m_config->setQuietEnabledForUser(!enabled);
}

bool PMSyncController::isPreviewEnabled() const
{
    // Only a choice recorded for this user opens a window: a drive set up elsewhere, whose
    // file says nothing about it, syncs as it always did.
    return m_previewEverySync.load() || m_config->isQuietTurnedOffForUser();
}

void PMSyncController::setPreviewPresenter(PMSyncPreviewPresenter *presenter, bool forEverySync)
{
    m_previewPresenter.store(presenter);
    m_previewEverySync.store(forEverySync);
}

QDateTime PMSyncController::lastSyncTime()
{
    std::lock_guard lock(m_stateMutex);
    if (!m_lastSyncTime)
        m_lastSyncTime = m_config->lastSyncDateForUser();
    return *m_lastSyncTime;
}

bool PMSyncController::updateLastSyncTime(const QDateTime &date)
{
    std::lock_guard lock(m_stateMutex);
    m_lastSyncTime = date;
    const bool saved = m_config->setLastSyncDateForUser(date);
    if (!saved)
        m_syncTimeNotSaved.store(true);
    return saved;
}

QStringList PMSyncController::shadowedSyncList()
{
    std::lock_guard lock(m_stateMutex);
    if (!m_shadowedSyncList)
        m_shadowedSyncList = m_config->syncItemList().value_or(QStringList());
    return *m_shadowedSyncList;
}

// ---- Status -----------------------------------------------------------------------------

bool PMSyncController::busy() const
{
    QVariantList queue;
    {
        std::lock_guard lock(m_taskLock);
        if (m_taskList.empty())
            return false;
        for (const Task &task : m_taskList) {
            QVariantMap record = task.record;
            if (!task.paths.isEmpty()) {
                const bool listUpdate = record.value(kOperationKey).toString() == kUpdateSyncList;
                // Joined into a new string: the lists stay unshared with the worker's copy.
                record.insert(listUpdate ? kSyncListKey : kPathsToSyncToKey, task.paths.join(QStringLiteral(", ")));
            }
            queue.append(record);
        }
    }
    if (PMAgentLog::isDebugEnabled()) {
        debugMessage(QStringLiteral(">KRTSyncController.busy"));
        debugMessage(describe(queue));
        debugMessage(QStringLiteral("<KRTSyncController.busy"));
    }
    return true;
}

bool PMSyncController::busyWithSynclistOnly() const
{
    std::lock_guard lock(m_taskLock);
    return std::any_of(m_taskList.cbegin(), m_taskList.cend(), [](const Task &task) {
        const QString operation = task.record.value(kOperationKey).toString();
        return operation == kSync || operation == kContinuousSync;
    });
}

bool PMSyncController::cancelPending() const
{
    return m_cancelState.load() & kCancelPendingBit;
}

bool PMSyncController::cancelRVal() const
{
    return m_cancelState.load() & kCancelRValBit;
}

void PMSyncController::setCancelPending(bool pending, bool rval)
{
    m_cancelState.store((pending ? kCancelPendingBit : 0u) | (rval ? kCancelRValBit : 0u));
}

void PMSyncController::networkDeviceBecameUnreachable()
{
    if (!isNetworkDevice())
        return;
    m_deviceReachable.store(false);
    if (busy()) {
        logMessage(QStringLiteral("The network device of \"%1\" can no longer be reached.").arg(m_mountPoint));
        setCancelPending(true, false);
    }
}

void PMSyncController::connectionToDeviceLost()
{
    if (!isNetworkDevice())
        return;
    m_connectionLostInJob.store(true);
    setCancelPending(true, false);
}

bool PMSyncController::lostNetworkConnection() const
{
    return isNetworkDevice() && (!m_deviceReachable.load() || m_connectionLostInJob.load());
}

void PMSyncController::cancelButtonClicked()
{
    setCancelPending(true, false);
}

void PMSyncController::toggleContinuousSync()
{
    setContinuousSyncState(!continuousSyncState());
}

void PMSyncController::togglePreviewEnabled()
{
    setPreviewEnabledState(!isPreviewEnabled());
}

bool PMSyncController::windowShouldClose() const
{
    const bool close = !busy();
    debugMessage(QStringLiteral("-windowShouldClose: returning %1.").arg(close ? "YES" : "NO"));
    return close;
}

// ---- Progress ---------------------------------------------------------------------------

QVariantMap PMSyncController::getCurrentProgressDict() const
{
    PMSyncProgress::Activity activity;
    activity.busy = busy();
    activity.activePath = activity.busy ? m_mountPoint : QString();
    activity.activityType = activityType();
    activity.failureType = failureType();
    activity.cancelPending = cancelPending();
    return const_cast<PMSyncProgress &>(m_progress).refresh(activity);
}

void PMSyncController::initForNewJob()
{
    m_syncTimeNotSaved.store(false);
    m_connectionLostInJob.store(false);
    m_progress.reset();
    getCurrentProgressDict();
}

void PMSyncController::setProgressActivePath(const QString &path)
{
    m_progress.setActivePath(path);
}

void PMSyncController::determineTotalSync(
    const QStringList &items, const std::function<std::optional<quint64>(const QString &item)> &knownSize)
{
    quint64 total = 0;
    for (const QString &item : items) {
        const std::optional<quint64> known = knownSize ? knownSize(item) : std::nullopt;
        total += known ? *known : PMFileManager::fastPathSize(platform::PlatformPaths::expandTilde(item));
    }
    m_progress.setTotalSync(total);
    qCInfo(lcSync).noquote()
        << QStringLiteral("Initial Progress Dictionary: %1").arg(describe(getCurrentProgressDict()));
}

void PMSyncController::accumulateSkipFilteredData(quint64 bytes)
{
    if (!cancelPending())
        m_progress.accumulateSkipFilteredData(bytes);
}

void PMSyncController::accumulateCopiedDataPath(const QString &path)
{
    accumulateCopiedData(PMFileManager::fastPathSize(path));
}

void PMSyncController::accumulateSkipPresentDataPath(const QString &path)
{
    accumulateSkipPresentData(PMFileManager::fastPathSize(path));
}

void PMSyncController::accumulateSkipFilteredDataPath(const QString &path)
{
    // The walk is not worth doing when the bytes would not be counted.
    if (!cancelPending())
        accumulateSkipFilteredData(PMFileManager::fastPathSize(path));
}

bool PMSyncController::setFileCopyPath(const QString &path)
{
    m_progress.setFileCopyPath(path);
    return true;
}

bool PMSyncController::accumulateCopiedDataUInt64(quint64 bytes)
{
    accumulateCopiedData(bytes);
    return true;
}

bool PMSyncController::accumulateSkipFilteredDataUInt64(quint64 bytes)
{
    accumulateSkipFilteredData(bytes);
    return true;
}

bool PMSyncController::resetPartiallyCopiedData()
{
    m_progress.setPartiallyCopiedData(0);
    return true;
}

// ---- Log and alerts ---------------------------------------------------------------------

void PMSyncController::logMessage(const QString &text) const
{
    PMAgentLog::logMessage(text);
}

void PMSyncController::debugMessage(const QString &text) const
{
    if (!PMAgentLog::isDebugEnabled())
        return;
    PMLogController &log = PMLogController::sharedInstance();
    log.addLogString(PMLogController::generateString(text, false, true), false, false);
    log.writeLogFile();
}

void PMSyncController::flushLog() const
{
    PMAgentLog::flushLog();
}

void PMSyncController::openLogFile() const
{
    PMAgentLog::flushLog();
    if (m_owner)
        m_owner->showLog();
}

bool PMSyncController::syncThreadPerformPreview(PMScanResults &results, std::vector<PMLeftOutList::Item> leftOut)
{
    if (QThread::currentThread() == m_mainThreadContext->thread() || !m_previewPresenter.load())
        return false;
    // The same wait as an alert's (a worker waits for one question at a time), so stopping
    // the controller ends it too. Ok is "apply".
    const auto wait = std::make_shared<AlertWait>();
    {
        std::lock_guard lock(m_alertMutex);
        if (stopRequested())
            return false;
        m_pendingAlert = wait;
    }
    // The window edits a copy it shares, so a window left open after the job has gone
    // touches nothing of the job's.
    const auto shown = std::make_shared<PMScanResults>(results);
    auto done = [wait](bool apply) {
        {
            std::lock_guard lock(wait->mutex);
            wait->answered = true;
            wait->answer = apply ? platform::AlertAnswer::Ok : platform::AlertAnswer::Cancel;
        }
        wait->condition.notify_all();
    };
    const PMSyncPreviewPresenter::Request request { QFileInfo(m_mountPoint).fileName(), shown, std::move(leftOut) };
    // Runs on the main thread; dropped unrun when the controller is destroyed first. A cancel
    // that came while the plan was on its way is its answer: a window opened after it would
    // wait for an answer nobody is going to give any more.
    auto present = [this, request, done] {
        PMSyncPreviewPresenter *presenter = m_previewPresenter.load();
        if (presenter && !cancelPending())
            presenter->present(request, done);
        else
            done(false);
    };
    QMetaObject::invokeMethod(m_mainThreadContext.get(), present, Qt::QueuedConnection);

    std::unique_lock lock(wait->mutex);
    wait->condition.wait(lock, [&] { return wait->answered || wait->abandoned; });
    if (!wait->answered || wait->answer != platform::AlertAnswer::Ok)
        return false;
    // Answered: the window has let go of the copy.
    results = *shown;
    return true;
}

bool PMSyncController::syncThreadPerformAlert(const QString &title, const QString &message, bool cancelButton,
    bool logButton, platform::AlertAnswer headlessAnswer)
{
    const platform::AlertRequest request { title, message, cancelButton, logButton, headlessAnswer };
    const bool safeAnswer = headlessAnswer == platform::AlertAnswer::Ok || !cancelButton;
    if (QThread::currentThread() == m_mainThreadContext->thread()) {
        // The main thread must never block on its own answer.
        qCWarning(lcSync) << "alert requested on the main thread; answering its safe answer";
        return safeAnswer;
    }
    // The answer may come after the controller is gone: it touches only this shared state.
    const auto wait = std::make_shared<AlertWait>();
    {
        std::lock_guard lock(m_alertMutex);
        if (stopRequested())
            return safeAnswer;
        m_pendingAlert = wait;
    }
    auto done = [wait](platform::AlertAnswer answer) {
        {
            std::lock_guard lock(wait->mutex);
            wait->answered = true;
            wait->answer = answer;
        }
        wait->condition.notify_all();
    };
    QPointer<QObject> context(m_mainThreadContext.get());
    auto showLog = [this, context] {
        if (context)
            openLogFile();
    };
    // Runs on the main thread; dropped unrun when the controller is destroyed first.
    auto present = [this, request, done, showLog] {
        static platform::HeadlessAlertPresenter headless;
        platform::AlertPresenter *presenter = m_alerts ? m_alerts : &headless;
        presenter->present(request, done, showLog);
    };
    QMetaObject::invokeMethod(m_mainThreadContext.get(), present, Qt::QueuedConnection);

    std::unique_lock lock(wait->mutex);
    wait->condition.wait(lock, [&] { return wait->answered || wait->abandoned; });
    if (!wait->answered)
        return safeAnswer;
    return wait->answer == platform::AlertAnswer::Ok;
}
