// The manager's network storage: device discovery (Avahi), reachability, and a share mapper
// of its own that only lists a device's shares (it mounts nothing: the agent does), fed with
// the SMB shares mounted on this computer (kernel mounts and GVfs folders). The volume
// monitor lists what the mapper maps.
//
//   PMSmbShareService smb;
//   LUMNetworkShares network(smb, { .gvfsFolder = smb.gvfsFolder() });
//   monitor.setNetworkShares(&network);   // monitor.start() starts it
//
// Without Avahi or the system bus discovery logs it and waits for them; local drives are
// listed as before. Main thread; listing and mapping run on the mapper's threads.
#pragma once

#include <QObject>
#include <QString>

#include <memory>

class PMBonjourDiscoveryManager;
class PMLocalReachability;
class PMNetServiceMapper;
class PMShareMountWatcher;
class PMShareService;

class LUMNetworkShares : public QObject {
    Q_OBJECT

public:
    struct Options {
        // Where GVfs shows its mounts ($XDG_RUNTIME_DIR/gvfs).
        QString gvfsFolder;
        // The devices' SMB port when it is not the standard one (0).
        quint16 smbPort = 0;
    };

    // shares must outlive the object.
    LUMNetworkShares(PMShareService &shares, Options options, QObject *parent = nullptr);
    // Stops the devices (ending their listings) and waits for the mapper's work.
    ~LUMNetworkShares() override;

    // Starts reachability, the GVfs folder checks and discovery. Returns at once.
    void start();
    void stop();

    PMShareService &shareService() { return m_shares; }
    PMNetServiceMapper &mapper() { return *m_mapper; }
    PMBonjourDiscoveryManager &discovery() { return *m_discovery; }
    PMShareMountWatcher &mountWatcher() { return *m_watcher; }

private:
    PMShareService &m_shares;
    const Options m_options;
    std::unique_ptr<PMLocalReachability> m_reachability;
    std::unique_ptr<PMBonjourDiscoveryManager> m_discovery;
    std::unique_ptr<PMNetServiceMapper> m_mapper;
    std::unique_ptr<PMShareMountWatcher> m_watcher;
    bool m_reachabilityStarted = false;
};
