// The controller of the main window, without any widget: the selected drive, the sync plan,
// the default-folders state, the sync list model, the activity shown, and the actions the
// window's controls trigger. The window (LUMMainWindow) shows what this says and calls it.
//
//   LUMApplicationController controller(client, volumeModel);
//   connect(&subscriber, &PMNotificationSubscriber::posted, ...controller.activity().updateActivity);
//   controller.selectVolume(0);
//   controller.changeSyncPlan(3);
//
// Sync plans: 1 all media folders for a device (device filter 1), 2 all media folders with
// no device filter, 3 custom. Plans 1 and 2 lock the sync list; the custom controls work only
// under plan 3 and while no sync of the selected drive runs.
//
// Main thread.
#pragma once

#include "manager/window/LUMActivityState.h"
#include "manager/window/LUMSyncPathsModel.h"

#include <QObject>
#include <QString>
#include <QVariantMap>

#include <memory>
#include <optional>

class LUMPellmereInterface;
class LUMVolumeBase;
class LUMVolumeListModel;

class LUMApplicationController : public QObject {
    Q_OBJECT

public:
    LUMApplicationController(LUMPellmereInterface &client, LUMVolumeListModel &volumes, QObject *parent = nullptr);

    LUMPellmereInterface &client() { return m_client; }
    LUMActivityState &activity() { return m_activity; }
    LUMSyncPathsModel &syncPathsModel() { return m_syncPaths; }
    LUMVolumeListModel &volumes() { return m_volumes; }

    // The row of the volume list the user selected, or -1.
    int selectedRow() const { return m_selectedRow; }
    std::shared_ptr<LUMVolumeBase> selectedVolume() const;
    void selectVolume(int row);

    int syncPlan() const { return m_syncPlan; }
    bool mounted() const { return m_mounted; }
    int includeMediaFolders() const { return m_includeMediaFolders; }
    bool customControlsActive() const;
    bool enableAddDefaultFolders() const;
    QString deviceFiltersToolTip() const;

    // Plan inferred from the client's current settings and the default folders.
    int inferredPlan() const;

    // The whole refresh: on selection changes, volume list changes and the agent's launch.
    void updateAllValues();
    // The radio group's choice: only a different plan, and only with a drive listed.
    void changeSyncPlan(int plan);
    // The default-folders box: 1 adds the missing ones, 0 removes the present ones.
    void setIncludeMediaFolders(int state);
    // The sync-now/stop button's new state: on starts a sync (once a settings job of the drive
    // is over), off stops it.
    void syncButtonToggled(bool on);
    // The history sheet's contents (empty when there is none).
    QVariantMap syncHistory();

Q_SIGNALS:
    // Anything the window shows may have changed.
    void changed();
    // The plan was set from the drive's settings (the radio group follows).
    void syncPlanChanged(int plan);

private:
    void syncPathsChanged();
    void reevaluateDefaultFolders();

    LUMPellmereInterface &m_client;
    LUMVolumeListModel &m_volumes;
    LUMActivityState m_activity;
    LUMSyncPathsModel m_syncPaths;
    int m_selectedRow = -1;
    int m_syncPlan = 1;
    int m_includeMediaFolders = 0;
    bool m_mounted = true;
    // Sync now was pressed during a settings job of the selected drive.
    bool m_syncDeferred = false;
};
