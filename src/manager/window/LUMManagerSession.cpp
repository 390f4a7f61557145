#include "manager/window/LUMManagerSession.h"

#include "manager/client/LUMLog.h"
#include "manager/client/LUMPellmereInterface.h"
#include "manager/volumes/LUMNetworkShares.h"
#include "manager/volumes/LUMVolumeListModel.h"
#include "manager/volumes/LUMVolumeMonitor.h"
#include "manager/window/LUMApplicationController.h"
#include "manager/window/LUMMainWindow.h"
#include "netstorage/FSNamesAndTags.h"
#include "netstorage/PMSmbShareService.h"
#include "platform/VolumeDescription.h"
#include "protocol/PMNotificationSubscriber.h"

#include <QStatusBar>

LUMManagerSession::LUMManagerSession(const LUMAgentPaths &paths, QDBusConnection connection)
    : m_describer(platform::VolumeDescriber::create())
    , m_smb(std::make_unique<PMSmbShareService>())
    , m_network(std::make_unique<LUMNetworkShares>(*m_smb, LUMNetworkShares::Options { m_smb->gvfsFolder() }))
    , m_monitor(std::make_unique<LUMVolumeMonitor>(*m_describer, FSNamesAndTags::sharedManager()))
    , m_volumes(std::make_unique<LUMVolumeListModel>(*m_monitor))
{
    m_monitor->setNetworkShares(m_network.get());
    (void)m_monitor->start();
    // Subscribed before the agent starts, so its first notifications are not missed.
    m_subscriber = std::make_unique<protocol::PMNotificationSubscriber>(connection);
    m_subscribed = m_subscriber->subscribe(kActivityNotification);
    if (!m_subscribed) {
        LUMLog::debug("LUMApplicationController", QStringLiteral("applicationWillFinishLaunching"),
            QStringLiteral("cannot receive the agent's activity notifications"));
    }
    m_client = std::make_unique<LUMPellmereInterface>(paths, connection);
    m_controller = std::make_unique<LUMApplicationController>(*m_client, *m_volumes);
    QObject::connect(m_monitor.get(), &LUMVolumeMonitor::triggerUpdate, m_controller.get(),
        &LUMApplicationController::updateAllValues);
    QObject::connect(m_subscriber.get(), &protocol::PMNotificationSubscriber::posted, m_controller.get(),
        [controller = m_controller.get()](const QString &, const QString &, const QVariantMap &userInfo) {
            controller->activity().updateActivity(userInfo);
        });
    m_window = std::make_unique<LUMMainWindow>(*m_controller);
    if (!m_client->pellmereIsRunning()) {
        m_window->statusBar()->showMessage(
            QObject::tr("The Pellmere agent is not running: %1").arg(m_client->launchFailure()));
    }
}

LUMManagerSession::~LUMManagerSession()
{
    m_window.reset();
    m_subscriber.reset();
    m_controller.reset();
    m_client.reset();
    m_volumes.reset();
    m_monitor->stop();
    m_monitor.reset();
    m_network.reset();
}
