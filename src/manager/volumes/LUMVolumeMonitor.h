// Keeps the manager's list of drives live: every external volume mounted at a volume directory
// (right below a volume root such as /media/alice) whose file system can take synced files and
// is writable. It listens to the same mount-table monitor the agent uses; internal disks,
// system, virtual and package mounts never appear, by the agent's own rule.
//
//   LUMVolumeMonitor volumes(*describer, FSNamesAndTags::sharedManager());
//   LUMVolumeListModel model(volumes);   // or connect to the row signals directly
//   volumes.start();                     // lists what is mounted now, then follows changes
//
// The list is sorted by name. A volume that goes away leaves it; one that is moved or
// remounted (other options, such as read-only) leaves it and comes back at once when it
// still qualifies, so views see a removal then an insertion.
//
// Shares of network storage devices join the list as remote volumes when a share mapper maps
// their mount path to a device, and leave it when it unmaps the path:
//
//   volumes.setNetworkShares(&network);   // start() starts discovery; SMB mounts go to its mapper
//
// Main thread: the rows change from the monitor's signals, announced before and after. The
// mapper's announcements come from its threads; a share's origin and capacity are read there,
// the list changes on the main thread.
#pragma once

#include "manager/volumes/LUMVolumeBase.h"
#include "netstorage/PMNetServiceObject.h"
#include "platform/MountInfoParser.h"
#include "platform/VolumeMonitor.h"

#include <QList>
#include <QObject>

#include <memory>

class FSNamesAndTags;
class LUMNetworkShares;
class PMNetServiceMapper;
class PMShareService;
namespace platform {
class VolumeDescriber;
}

class LUMVolumeMonitor : public QObject {
    Q_OBJECT

public:
    LUMVolumeMonitor(
        const platform::VolumeDescriber &describer, const FSNamesAndTags &catalog, QObject *parent = nullptr);
    // Waits for a mapper announcement being handled.
    ~LUMVolumeMonitor() override;

    // Lists the shares of network's mapper, tells it of the SMB mounts of the mount table, and
    // has start() start it. Before start(); network must outlive the monitor.
    void setNetworkShares(LUMNetworkShares *network);
    // Lists the shares mapper maps, their origin read through shares (both outliving the
    // monitor). setNetworkShares does this for its mapper.
    void followShareMapper(PMNetServiceMapper *mapper, PMShareService *shares);

    // Lists the volumes mounted now and follows the mount table; false (logged) when the table
    // cannot be watched; the volumes mounted now are listed all the same.
    bool start();
    void stop();
    // Reads the mount table now instead of waiting for its notice.
    void refresh();

    const QList<std::shared_ptr<LUMVolumeBase>> &volumes() const { return m_volumes; }

Q_SIGNALS:
    void volumeAboutToBeInserted(int row);
    void volumeInserted(int row);
    void volumeAboutToBeRemoved(int row);
    void volumeRemoved(int row);
    // A share joined or left the list.
    void triggerUpdate();

protected:
    // Inserts a volume at its place by name.
    void addVolume(std::shared_ptr<LUMVolumeBase> volume);
    void removeVolumeAt(int row);

private:
    void diskAppeared(const platform::MountEntry &entry);
    void diskDisappeared(const platform::MountEntry &entry);
    void descriptionChanged(const platform::MountEntry &before, const platform::MountEntry &after);
    void addLocalVolume(const platform::MountEntry &entry);
    int rowOfMount(int mountId) const;
    int rowOfPath(const QString &path) const;
    void shareMapped(const QString &mountPath, const PMNetServicePtr &service);
    void addRemoteVolume(std::shared_ptr<LUMVolumeBase> volume);
    void shareUnmapped(const QString &mountPath);

    const platform::VolumeDescriber &m_describer;
    const FSNamesAndTags &m_catalog;
    platform::VolumeMonitor m_monitor;
    QList<std::shared_ptr<LUMVolumeBase>> m_volumes;
    LUMNetworkShares *m_network = nullptr;
    PMNetServiceMapper *m_mapper = nullptr;
    PMShareService *m_shares = nullptr;
};
