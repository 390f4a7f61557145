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
// still qualifies, so views see a removal then an insertion. Network shares are to join the
// list through addVolume when network storage is built.
//
// Main thread: the rows change from the monitor's signals, announced before and after.
#pragma once

#include "manager/volumes/LUMVolumeBase.h"
#include "platform/MountInfoParser.h"
#include "platform/VolumeMonitor.h"

#include <QList>
#include <QObject>

#include <memory>

class FSNamesAndTags;
namespace platform {
class VolumeDescriber;
}

class LUMVolumeMonitor : public QObject {
    Q_OBJECT

public:
    LUMVolumeMonitor(
        const platform::VolumeDescriber &describer, const FSNamesAndTags &catalog, QObject *parent = nullptr);
    ~LUMVolumeMonitor() override;

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

    const platform::VolumeDescriber &m_describer;
    const FSNamesAndTags &m_catalog;
    platform::VolumeMonitor m_monitor;
    QList<std::shared_ptr<LUMVolumeBase>> m_volumes;
};
