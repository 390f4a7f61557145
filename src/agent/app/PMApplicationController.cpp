#include "agent/app/PMApplicationController.h"

#include "agent/app/PMActivityNotifier.h"
#include "agent/app/PMAgentInstanceLock.h"
#include "agent/app/PMConnectionErrorAlert.h"
#include "agent/app/PMContinuousSync.h"
#include "agent/app/PMControlEventHandlers.h"
#include "agent/app/PMDriveKey.h"
#include "agent/app/PMDriveOperations.h"
#include "agent/app/PMSyncOnConnectDecision.h"
#include "agent/app/PMVolumeEventRouter.h"
#include "agent/log/PMAgentLog.h"
#include "agent/log/PMStandardDefaults.h"
#include "agent/media/PMFileValidator.h"
#include "agent/settings/PMHostUserIdentity.h"
#include "agent/settings/PMUserDefaults.h"
#include "agent/sync/PMDriveQualifier.h"
#include "agent/sync/PMSyncJob.h"
#include "netstorage/PMNetServiceMapper.h"
#include "platform/HeadlessAlertPresenter.h"
#include "platform/VolumeDescription.h"
#include "platform/VolumeMonitor.h"
#include "protocol/PMControlServer.h"
#include "protocol/PMNotificationEmitter.h"
#include "protocol/PMNotificationSubscriber.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QDir>
#include <QFileInfo>
#include <QPointer>

namespace {

PMApplicationController *s_instance = nullptr;
QString s_uniqueHostUserId;

} // namespace

QString PMApplicationController::displayName(const QString &mountPath)
{
    const QString name = QFileInfo(QDir::cleanPath(mountPath)).fileName();
    return name.isEmpty() ? mountPath : name;
}

PMApplicationController &PMApplicationController::sharedInstance()
{
    if (!s_instance) {
        s_instance = new PMApplicationController();
        // Both lists must exist before any walk reads them from a worker.
        (void)PMFileValidator::filteredFileNames();
        (void)PMFileValidator::filteredFilePaths();
    }
    return *s_instance;
}

QString PMApplicationController::uniqueHostUserId()
{
    if (s_uniqueHostUserId.isEmpty())
        s_uniqueHostUserId = PMHostUserIdentity::uniqueHostUserId();
    return s_uniqueHostUserId;
}

PMApplicationController::PMApplicationController()
    : QObject(QCoreApplication::instance())
    , m_alerts(std::make_unique<platform::HeadlessAlertPresenter>())
    , m_operations(std::make_unique<PMDriveOperations>(*this))
    , m_localChoice(PMUserDefaults::sharedInstance())
{
    // The "debug" default exists from the first run on, so users find it to flip.
    platform::PreferenceStore &defaults = PMStandardDefaults::sharedInstance();
    if (!defaults.storedValues().contains(PMStandardDefaults::kDebugKey))
        defaults.setValue(PMStandardDefaults::kDebugKey, false);
    m_activity = std::make_unique<PMActivityNotifier>(nullptr, [this] { return isBusyProgressDict(); });
    m_continuousSync = std::make_unique<PMContinuousSync>(
        [this] {
            // Only drives whose continuous sync this user chose here are watched and synced.
            std::vector<PMSyncController *> list;
            for (const auto &[key, controller] : m_syncControllers) {
                if (maySyncAutomatically(*controller, false))
                    list.push_back(controller.get());
            }
            return list;
        },
        [](const QString &root, PMContinuousSync::ChangeCallback onChange) {
            return PMContinuousSync::makeChangeWatcher(root, std::move(onChange));
        },
        nullptr, nullptr);
    m_terminationPoll.setInterval(50);
    connect(&m_terminationPoll, &QTimer::timeout, this, [this] {
        if (!isBusyController())
            finishTermination(true);
        else if (std::chrono::steady_clock::now() >= m_terminationDeadline)
            finishTermination(false);
    });
}

PMApplicationController::~PMApplicationController()
{
    cleanUp();
    if (s_instance == this)
        s_instance = nullptr;
}

void PMApplicationController::setAlertPresenter(std::unique_ptr<platform::AlertPresenter> alerts)
{
    if (alerts)
        m_alerts = std::move(alerts);
}

void PMApplicationController::setPreviewPresenter(std::unique_ptr<PMSyncPreviewPresenter> presenter)
{
    for (const auto &[key, controller] : m_syncControllers)
        controller->setPreviewPresenter(presenter.get());
    m_previews = std::move(presenter);
}

bool PMApplicationController::applicationWillFinishLaunching(QString *why)
{
    PMAgentLog::setupLog();
    m_instanceLock = std::make_unique<PMAgentInstanceLock>();
    if (!m_instanceLock->acquire(why))
        return false;

    m_describer = platform::VolumeDescriber::create();
    m_volumeMonitor = std::make_unique<platform::VolumeMonitor>();
    if (!m_volumeMonitor->start()) {
        if (why)
            *why = QStringLiteral("cannot watch the mount table for drives");
        return false;
    }
    m_router = std::make_unique<PMVolumeEventRouter>(*m_volumeMonitor, *m_describer);
    connect(
        m_router.get(), &PMVolumeEventRouter::externalVolumeAppeared, this, &PMApplicationController::newDriveAppeared);
    connect(m_router.get(), &PMVolumeEventRouter::volumeDisappeared, this,
        [this](const QString &bsdName, const QString &) { driveDisappearedWithKey(bsdName); });
    connect(m_router.get(), &PMVolumeEventRouter::volumePathChanged, this, &PMApplicationController::volumePathChanged);
    startNetworkStorage();

    if (!startControlServer(why))
        return false;
    m_activity->start();
    m_continuousSync->setContinuousSyncNotificationsEnabled(true);
    // Volumes mounted before the agent started count as arriving now.
    QTimer::singleShot(0, this, [this] { m_router->announceCurrentVolumes(); });
    PMAgentLog::flushLog();
    return true;
}

void PMApplicationController::enableNetworkStorage(PMNetworkStorage::Options options)
{
    m_networkStorageOptions = options;
}

void PMApplicationController::startNetworkStorage()
{
    if (!m_networkStorageOptions) {
        connect(m_router.get(), &PMVolumeEventRouter::smbShareMounted, this, [](const QString &path) {
            PMAgentLog::debugMessage(QStringLiteral("SMB share mounted at %1; network storage is off.").arg(path));
        });
        return;
    }
    attachNetworkStorage(std::make_unique<PMNetworkStorage>(*m_networkStorageOptions));
    m_networkStorage->start();
}

void PMApplicationController::attachNetworkStorage(std::unique_ptr<PMNetworkStorage> storage)
{
    PMDriveQualifier::setSystemMappedShares(nullptr);
    m_networkStorage = std::move(storage);
    if (!m_networkStorage)
        return;
    PMNetServiceMapper &mapper = m_networkStorage->mapper();
    PMDriveQualifier::setSystemMappedShares(&mapper);
    if (m_router) {
        // Shares someone else mounted belong to a device too when the mapper knows it.
        connect(m_router.get(), &PMVolumeEventRouter::smbShareMounted, &mapper, &PMNetServiceMapper::mapMountPoint);
        connect(m_router.get(), &PMVolumeEventRouter::smbShareUnmounted, &mapper, &PMNetServiceMapper::unmapMountPoint);
    }
    connect(m_networkStorage.get(), &PMNetworkStorage::shareMapped, this,
        [this](const QString &mountPath, const QString &identity) {
            newDriveAppeared(mountPath, QStringLiteral("Corvane"), identity, QString());
        });
    connect(m_networkStorage.get(), &PMNetworkStorage::shareUnmapped, this, [this](const QString &mountPath) {
        // A share has no device name: its key is its path.
        driveDisappearedWithKey(PMDriveKey::keyFor(QString(), QDir::cleanPath(mountPath)));
    });
    connect(m_networkStorage.get(), &PMNetworkStorage::shareUnreachable, this,
        [this](const QString &mountPath) { networkDeviceReachabilityChanged(mountPath, false); });
    connect(m_networkStorage.get(), &PMNetworkStorage::failedToListShares, this,
        [this](const PMNetServicePtr &service, const QString &errorText) {
            if (!service)
                return;
            QPointer<PMNetworkStorage> current(m_networkStorage.get());
            showConnectionError(service->serviceName(), errorText, [current, service] {
                if (current)
                    current->retryMounting(service);
            });
        });
}

bool PMApplicationController::startControlServer(QString *why)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        // Syncing on connect works without a bus; only the manager cannot reach us.
        PMAgentLog::logMessage(QStringLiteral("No session bus: the agent cannot be controlled or report progress (%1).")
                                   .arg(bus.lastError().message()));
        return true;
    }
    m_emitter = std::make_unique<protocol::PMNotificationEmitter>(bus);
    m_subscriber = std::make_unique<protocol::PMNotificationSubscriber>(bus);
    m_activity->setEmitter(m_emitter.get());
    m_continuousSync->setBus(m_emitter.get(), m_subscriber.get());
    m_controlServer = std::make_unique<protocol::PMControlServer>(bus);
    PMControlEventHandlers::install(m_controlServer->handlers(), *this);
    m_controlServer->setUnmountApprover([this](const QString &mountPoint) { return approveUnmount(mountPoint); });
    m_controlServer->setLogShower([this] {
        PMAgentLog::flushLog();
        if (!m_logShower)
            return false;
        m_logShower();
        return true;
    });
    m_controlServer->setPathOpener([this](const QStringList &paths) { return m_operations->openPaths(paths); });
    return m_controlServer->start(why);
}

void PMApplicationController::terminate()
{
    if (m_terminating)
        return;
    m_terminating = true;
    if (!isBusyController()) {
        finishTermination(true);
        return;
    }
    // The temporary folder keeps the synced tree whole, so a canceled job loses nothing.
    PMAgentLog::logMessage(QStringLiteral("Canceling the running sync before quitting."));
    for (const auto &[key, controller] : m_syncControllers) {
        if (controller->busy())
            controller->setCancelPending(true, false);
    }
    // A job waiting for the user's answer would never see the cancel.
    m_alerts->withdrawAll();
    if (m_previews)
        m_previews->withdrawAll();
    m_terminationDeadline = std::chrono::steady_clock::now() + kTerminationBound;
    m_terminationPoll.start();
}

void PMApplicationController::finishTermination(bool stoppedInTime)
{
    m_terminationPoll.stop();
    if (!stoppedInTime)
        PMAgentLog::logMessage(
            QStringLiteral("The sync did not stop within %1 seconds; quitting anyway.").arg(kTerminationBound.count()));
    PMAgentLog::logMessage(QStringLiteral("Kerrit stopping."));
    PMAgentLog::flushLog();
    if (stoppedInTime) {
        cleanUp();
        QCoreApplication::exit(0);
        return;
    }
    // A worker stuck in the kernel (a hung drive) cannot be joined; leave without it.
    _exit(1);
}

void PMApplicationController::cleanUp()
{
    if (m_cleanedUp)
        return;
    m_cleanedUp = true;
    if (m_continuousSync) {
        m_continuousSync->setContinuousSyncNotificationsEnabled(false);
        m_continuousSync->tearDownWatchers();
    }
    if (m_activity)
        m_activity->stop();
    m_router.reset();
    if (m_volumeMonitor)
        m_volumeMonitor->stop();
    s_uniqueHostUserId.clear();
    // Each controller ends its worker as it goes.
    m_syncControllers.clear();
    // After the controllers, whose qualifiers ask the mapper about shares.
    attachNetworkStorage(nullptr);
    if (m_controlServer)
        m_controlServer->stop();
    PMAgentLog::flushLog();
}

PMSyncController *PMApplicationController::createSyncControllerForMountPoint(
    const QString &mountPoint, const QString &vendor, const QString &uuid, const QString &bsdNode)
{
    if (PMSyncController *existing = syncControllerForMountPoint(mountPoint))
        return existing;
    const QString bsdName = bsdNode.isEmpty() ? PMDriveKey::bsdNameForMountPoint(mountPoint) : bsdNode;
    const bool mappedShare
        = m_networkStorage && m_networkStorage->mapper().isMappedSharePath(QDir::cleanPath(mountPoint));
    // Neither a local disk nor a share the share mapper knows: no controller.
    if (bsdName.isEmpty() && !mappedShare)
        return nullptr;
    const QString key = PMDriveKey::keyFor(bsdName, QDir::cleanPath(mountPoint));
    if (const PMSyncController *other = syncControllerForKey(key)) {
        // The same device mounted a second time (a bind mount): one drive, one controller.
        PMAgentLog::debugMessage(QStringLiteral("syncControllerForMountPoint: %1 is already known at %2")
                                     .arg(key, other->deviceMountPoint()));
        return nullptr;
    }
    auto controller = PMSyncController::controllerForMountPoint(
        QDir::cleanPath(mountPoint), vendor, uuid, bsdName, this,
        [](PMSyncController &c) { return std::make_unique<PMSyncJob>(c); }, m_alerts.get());
    if (!controller)
        return nullptr;
    PMSyncController *created = controller.get();
    created->setPreviewPresenter(m_previews.get());
    // Its device's reachability ends its jobs, whatever file system shows the share.
    if (mappedShare)
        created->setNetworkDevice(true);
    m_syncControllers[key] = std::move(controller);
    PMAgentLog::debugMessage(QStringLiteral("syncControllerForMountPoint: created %1 key=%2").arg(mountPoint, key));
    Q_EMIT controllersChanged();
    return created;
}

PMSyncController *PMApplicationController::syncControllerForMountPoint(const QString &mountPoint) const
{
    if (mountPoint.isEmpty())
        return nullptr;
    PMSyncController *controller = syncControllerForKey(PMDriveKey::forMountPoint(mountPoint));
    // A key is reused when a device comes back at another path; the path must match too.
    if (controller && QDir::cleanPath(controller->deviceMountPoint()) != QDir::cleanPath(mountPoint))
        return nullptr;
    return controller;
}

PMSyncController *PMApplicationController::syncControllerForKey(const QString &key) const
{
    const auto found = m_syncControllers.find(key);
    return found == m_syncControllers.end() ? nullptr : found->second.get();
}

void PMApplicationController::newDriveAppeared(
    const QString &mountPoint, const QString &vendor, const QString &uuid, const QString &bsdNode)
{
    if (m_terminating)
        return;
    PMAgentLog::debugMessage(
        QStringLiteral("-newDriveAppeared: %1 vendor: %2 withUUIDString: %3").arg(mountPoint, vendor, uuid));
    PMSyncController *controller = createSyncControllerForMountPoint(mountPoint, vendor, uuid, bsdNode);
    if (!controller)
        return;
    using Outcome = PMSyncOnConnectDecision::Outcome;
    const Outcome outcome = PMSyncOnConnectDecision::decide({
        [controller] { return controller->busy(); },
        [controller] { return controller->isValidDevice(); },
        [controller] { return controller->isValidFileSystem(); },
        [controller] { return controller->syncIsEnabledForThisDevice(); },
        [this] { m_continuousSync->updateContinuousSyncSettings(); },
        [controller] { return controller->continuousSyncState(); },
        [controller] { return controller->isParticipatingInSync(); },
        [this, controller] { return maySyncAutomatically(*controller, true); },
    });
    const QString quoted = QStringLiteral("\"%1\"").arg(mountPoint);
    switch (outcome) {
    case Outcome::Busy:
        showBusyAlert(QStringLiteral("Cannot Start Sync."), mountPoint);
        break;
    case Outcome::NotValidDevice:
        PMAgentLog::debugMessage(QStringLiteral("Cannot Start Sync."));
        PMAgentLog::debugMessage(QStringLiteral("The drive %1 is not a valid Quendal Tavrin\u2122 drive.").arg(quoted));
        break;
    case Outcome::NotValidFileSystem:
        break;
    case Outcome::UserNotParticipating:
        PMAgentLog::debugMessage(
            QStringLiteral("-newDriveAppeared: user is not participating in sync operations with %1.").arg(quoted));
        break;
    case Outcome::ContinuousOff:
        PMAgentLog::debugMessage(QStringLiteral("-newDriveAppeared: continuous sync is OFF for %1.").arg(quoted));
        break;
    case Outcome::ParticipationOff:
        PMAgentLog::debugMessage(QStringLiteral("-newDriveAppeared: participate sync is OFF for %1.").arg(quoted));
        break;
    case Outcome::NotChosenHere:
        break; // the user was told
    case Outcome::StartSync:
        controller->setCancelPending(false, false);
        scheduleSync(mountPoint, SyncRequest::Automatic);
        break;
    }
    PMAgentLog::flushLog();
}

void PMApplicationController::driveDisappearedWithKey(const QString &key)
{
    if (!syncControllerForKey(key))
        return;
    dropController(key);
}

void PMApplicationController::dropController(const QString &key)
{
    const auto found = m_syncControllers.find(key);
    if (found == m_syncControllers.end())
        return;
    std::unique_ptr<PMSyncController> controller = std::move(found->second);
    m_syncControllers.erase(found);
    m_toldNotChosen.remove(controller->deviceMountPoint());
    controller->driveDisappeared();
    // Destruction cancels what still runs and joins the worker; the drive is gone, so the
    // job ends at its next file operation.
    controller.reset();
    m_continuousSync->updateContinuousSyncSettings();
    PMAgentLog::flushLog();
    Q_EMIT controllersChanged();
}

void PMApplicationController::volumePathChanged(
    const QString &bsdName, const QString &newPath, const QString &vendor, const QString &uuid)
{
    if (syncControllerForKey(bsdName)) {
        PMAgentLog::debugMessage(QStringLiteral("-DADiskDescriptionChanged_Proc: unmounting %1").arg(bsdName));
        dropController(bsdName);
        return;
    }
    if (!newPath.isEmpty())
        newDriveAppeared(newPath, vendor, uuid, bsdName);
}

void PMApplicationController::forEachController(
    const std::function<void(const QString &, PMSyncController &)> &visit) const
{
    for (const auto &[key, controller] : m_syncControllers)
        visit(key, *controller);
}

QStringList PMApplicationController::controllerKeys() const
{
    QStringList keys;
    for (const auto &[key, controller] : m_syncControllers)
        keys.append(key);
    return keys;
}

PMSyncController *PMApplicationController::isBusyController() const
{
    for (const auto &[key, controller] : m_syncControllers) {
        if (controller->busy())
            return controller.get();
    }
    return nullptr;
}

QString PMApplicationController::isBusyPath() const
{
    const PMSyncController *controller = isBusyController();
    return controller ? controller->deviceMountPoint() : QString();
}

QVariantMap PMApplicationController::isBusyProgressDict() const
{
    const PMSyncController *controller = isBusyController();
    return controller ? controller->getCurrentProgressDict() : QVariantMap();
}

void PMApplicationController::networkDeviceReachabilityChanged(const QString &mountPoint, bool reachable)
{
    // The controllers live on the main thread; a hop there keeps the lookup safe.
    QMetaObject::invokeMethod(this, [this, mountPoint, reachable] {
        PMSyncController *controller = syncControllerForMountPoint(mountPoint);
        if (!controller)
            return;
        if (reachable)
            controller->networkDeviceBecameReachable();
        else
            controller->networkDeviceBecameUnreachable();
    });
}

void PMApplicationController::showConnectionError(
    const QString &deviceName, const QString &errorText, std::function<void()> retry)
{
    PMConnectionErrorAlert(*m_alerts).show(deviceName, errorText, std::move(retry));
}

protocol::PMUnmountAnswer PMApplicationController::approveUnmount(const QString &mountPoint) const
{
    const QString key = PMDriveKey::forMountPoint(mountPoint);
    const PMSyncController *controller = syncControllerForKey(key);
    if (!controller)
        return {};
    if (controller->busy()) {
        PMAgentLog::debugMessage(QStringLiteral("-DADiskUnmountApproval_Proc: sync in progress: %1").arg(key));
        return { false, protocol::kPMUnmountRefusedSyncInProgress, QStringLiteral("Sync In Progress") };
    }
    PMAgentLog::debugMessage(QStringLiteral("-DADiskUnmountApproval_Proc: unmount approved: %1").arg(key));
    return {};
}

void PMApplicationController::scheduleSync(const QString &mountPoint, SyncRequest request)
{
    QTimer::singleShot(kSyncDelay, this, [this, mountPoint, request] {
        if (m_terminating)
            return;
        PMSyncController *controller = syncControllerForMountPoint(mountPoint);
        if (!controller)
            return;
        // Settings may have changed in the meantime (a list update queued before runs first).
        if (request == SyncRequest::Automatic && !maySyncAutomatically(*controller, true))
            return;
        controller->sync();
    });
}

bool PMApplicationController::maySyncAutomatically(
    PMSyncController &controller, bool tellUser, const std::optional<QStringList> &driveList)
{
    const bool participates = controller.isParticipatingInSync();
    const bool continuous = controller.continuousSyncState();
    // A drive that itself says no is simply not synced; there is nothing to tell.
    if (!participates || !continuous)
        return false;
    const PMLocalSyncChoice::Verdict verdict = m_localChoice.verdict(controller.deviceUUIDString(), participates,
        continuous, driveList ? *driveList : controller.shadowedSyncList());
    if (verdict == PMLocalSyncChoice::Verdict::Allowed)
        return true;
    if (tellUser)
        tellNotChosenOnce(controller, verdict);
    return false;
}

void PMApplicationController::tellNotChosenOnce(const PMSyncController &controller, PMLocalSyncChoice::Verdict verdict)
{
    const QString mountPoint = controller.deviceMountPoint();
    if (m_toldNotChosen.contains(mountPoint))
        return;
    m_toldNotChosen.insert(mountPoint);
    const QString title = QStringLiteral("Drive Not Synced.");
    const QString text = QStringLiteral("The drive \"%1\" asks to sync folders you have not chosen on this computer. "
                                        "Open Pellmere to review its settings; nothing was synced.");
    PMAgentLog::logMessage(text.arg(displayName(mountPoint))
        + QStringLiteral(" (%1: %2)").arg(mountPoint, PMLocalSyncChoice::describe(verdict)));
    PMAgentLog::flushLog();
    m_alerts->present({ title, text.arg(displayName(mountPoint)) }, [](platform::AlertAnswer) {}, {});
}

void PMApplicationController::scheduleSyncListUpdate(const QString &mountPoint, const QStringList &syncList)
{
    QTimer::singleShot(kSyncDelay, this, [this, mountPoint, syncList] {
        if (m_terminating)
            return;
        if (PMSyncController *controller = syncControllerForMountPoint(mountPoint)) {
            controller->updateSyncList(syncList);
            // The watch list follows the drive's list, which has only now changed.
            m_continuousSync->updateContinuousSyncSettings();
        }
    });
}

void PMApplicationController::showBusyAlert(const QString &title, const QString &mountPoint)
{
    const QString text = QStringLiteral("The drive \"%1\" is already involved in a sync operation.");
    PMAgentLog::debugMessage(title);
    PMAgentLog::debugMessage(text.arg(mountPoint));
    m_alerts->present({ title, text.arg(displayName(mountPoint)) }, [](platform::AlertAnswer) {}, {});
}

void PMApplicationController::sendActivityNotification(bool forced, const QVariantMap &progress)
{
    m_activity->sendActivityNotification(forced, progress);
}

void PMApplicationController::addContinuousSyncItems(const QStringList &paths)
{
    // From a worker: the queue lives on the main thread. Not waiting keeps a quitting
    // agent, which joins its workers on the main thread, from deadlocking.
    QMetaObject::invokeMethod(
        this, [this, paths] { m_continuousSync->mainThreadAddContinuousSyncItems(paths); }, Qt::QueuedConnection);
}

void PMApplicationController::showLog()
{
    PMAgentLog::flushLog();
    if (!m_logFileOpener)
        return;
    // The desktop face lives on the main thread.
    QMetaObject::invokeMethod(this, [this] {
        if (m_logFileOpener)
            m_logFileOpener();
    });
}
