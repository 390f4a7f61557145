// Everything the manager's window runs on, put together in the order it needs: the drive
// list (following the mount table and the shares of network storage devices), the agent client (which launches the
// agent and waits for it), the controller, the subscription to the agent's activity notifications and the window. The
// program's main and the end-to-end tests build the same session.
//
//   LUMManagerSession session;          // the standard agent on the session bus
//   session.window().show();
//
// Main thread, with a QApplication.
#pragma once

#include "manager/client/LUMAgentPaths.h"

#include <QDBusConnection>

#include <memory>

class LUMApplicationController;
class LUMMainWindow;
class LUMNetworkShares;
class LUMPellmereInterface;
class LUMVolumeListModel;
class LUMVolumeMonitor;
class PMSmbShareService;
namespace platform {
class VolumeDescriber;
}
namespace protocol {
class PMNotificationSubscriber;
}

class LUMManagerSession {
public:
    static inline const QString kActivityNotification
        = QStringLiteral("com.corvane.pellmere.syncInProgress.notification.evt");

    explicit LUMManagerSession(const LUMAgentPaths &paths = LUMAgentPaths::standard(),
        QDBusConnection connection = QDBusConnection::sessionBus());
    ~LUMManagerSession();

    LUMPellmereInterface &client() { return *m_client; }
    LUMApplicationController &controller() { return *m_controller; }
    LUMMainWindow &window() { return *m_window; }
    LUMVolumeMonitor &volumeMonitor() { return *m_monitor; }
    bool isSubscribed() const { return m_subscribed; }

private:
    std::unique_ptr<platform::VolumeDescriber> m_describer;
    // Before the monitor, which lists their shares until it goes.
    std::unique_ptr<PMSmbShareService> m_smb;
    std::unique_ptr<LUMNetworkShares> m_network;
    std::unique_ptr<LUMVolumeMonitor> m_monitor;
    std::unique_ptr<LUMVolumeListModel> m_volumes;
    std::unique_ptr<LUMPellmereInterface> m_client;
    std::unique_ptr<LUMApplicationController> m_controller;
    std::unique_ptr<protocol::PMNotificationSubscriber> m_subscriber;
    std::unique_ptr<LUMMainWindow> m_window;
    bool m_subscribed = false;
};
