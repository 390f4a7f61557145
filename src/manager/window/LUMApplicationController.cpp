#include "manager/window/LUMApplicationController.h"

#include "manager/client/LUMLog.h"
#include "manager/client/LUMPellmereInterface.h"
#include "manager/volumes/LUMVolumeBase.h"
#include "manager/volumes/LUMVolumeListModel.h"
#include "manager/window/LUMDefaultFolders.h"
#include "manager/window/LUMDeviceFilters.h"

namespace {
constexpr const char *kClass = "LUMApplicationController";
}

LUMApplicationController::LUMApplicationController(
    LUMPellmereInterface &client, LUMVolumeListModel &volumes, QObject *parent)
    : QObject(parent)
    , m_client(client)
    , m_volumes(volumes)
    , m_activity(client)
    , m_syncPaths(client)
{
    connect(&m_activity, &LUMActivityState::changed, this, [this] {
        m_syncPaths.setDropsAllowed(customControlsActive());
        if (m_syncDeferred && m_activity.activityType() != 4) {
            m_syncDeferred = false;
            if (m_activity.isIdle())
                m_client.invokeSyncNow();
        }
        Q_EMIT changed();
    });
    connect(&m_client, &LUMPellmereInterface::syncPathsChanged, this, &LUMApplicationController::syncPathsChanged);
    for (auto signal : { &LUMPellmereInterface::syncMoviesModeChanged, &LUMPellmereInterface::syncMusicModeChanged,
             &LUMPellmereInterface::syncPicturesModeChanged, &LUMPellmereInterface::syncDocumentsModeChanged,
             &LUMPellmereInterface::syncParticipateModeChanged, &LUMPellmereInterface::syncDeviceFilterModeChanged,
             &LUMPellmereInterface::syncCancelledChanged, &LUMPellmereInterface::enableSyncNowChanged }) {
        connect(&m_client, signal, this, &LUMApplicationController::changed);
    }
    connect(&m_client, &LUMPellmereInterface::pellmereLaunched, this, &LUMApplicationController::updateAllValues);
    // A volume arriving or leaving moves the selected row; follow the drive, not the row.
    connect(
        &m_volumes, &QAbstractItemModel::rowsAboutToBeRemoved, this, [this](const QModelIndex &, int first, int last) {
            if (m_selectedRow >= first && m_selectedRow <= last)
                m_selectedRow = -2; // gone; settled once the rows are out
            else if (m_selectedRow > last)
                m_selectedRow -= last - first + 1;
        });
    connect(&m_volumes, &QAbstractItemModel::rowsRemoved, this, [this] {
        if (m_selectedRow == -2) {
            m_selectedRow = -1;
            updateAllValues();
        }
    });
    connect(&m_volumes, &QAbstractItemModel::rowsInserted, this, [this](const QModelIndex &, int first, int last) {
        if (m_selectedRow >= first)
            m_selectedRow += last - first + 1;
        Q_EMIT changed();
    });
}

std::shared_ptr<LUMVolumeBase> LUMApplicationController::selectedVolume() const
{
    return m_selectedRow >= 0 ? m_volumes.volumeAt(m_selectedRow) : nullptr;
}

void LUMApplicationController::selectVolume(int row)
{
    const int next = (row >= 0 && row < m_volumes.rowCount()) ? row : -1;
    if (next == m_selectedRow)
        return;
    m_selectedRow = next;
    updateAllValues();
}

bool LUMApplicationController::customControlsActive() const
{
    return m_syncPlan == 3 && m_activity.currentSyncInactive();
}

bool LUMApplicationController::enableAddDefaultFolders() const
{
    return LUMDefaultFolders::enableAdd(m_client.syncPaths());
}

QString LUMApplicationController::deviceFiltersToolTip() const
{
    return LUMDeviceFilters::toolTip(m_client.syncDeviceFilterMode());
}

int LUMApplicationController::inferredPlan() const
{
    const QStringList present = LUMDefaultFolders::presentFolders();
    const QStringList paths = m_client.syncPaths();
    const bool allCategories = m_client.syncMoviesMode() && m_client.syncMusicMode() && m_client.syncPicturesMode()
        && m_client.syncDocumentsMode();
    if (!allCategories || !LUMDefaultFolders::isExactlyDefault(paths, present))
        return 3;
    switch (m_client.syncDeviceFilterMode()) {
    case 0:
        return 2;
    case 1:
        return 1;
    default:
        return 3;
    }
}

void LUMApplicationController::updateAllValues()
{
    const std::shared_ptr<LUMVolumeBase> volume = selectedVolume();
    if (volume) {
        m_client.setSyncDestinationPath(volume->volumePathName());
        m_syncPlan = inferredPlan();
        m_mounted = volume->isMounted();
    } else {
        m_activity.reset();
        m_syncPlan = 1;
        m_client.setSyncDestinationPath(QString());
    }
    LUMLog::debug(kClass, QStringLiteral("updateAllValues"),
        QStringLiteral("drive %1, plan %2").arg(m_client.syncDestinationPath()).arg(m_syncPlan));
    reevaluateDefaultFolders();
    m_syncPaths.setDropsAllowed(customControlsActive());
    Q_EMIT syncPlanChanged(m_syncPlan);
    Q_EMIT changed();
}

void LUMApplicationController::changeSyncPlan(int plan)
{
    if (plan == m_syncPlan || plan < 1 || plan > 3 || m_volumes.rowCount() == 0)
        return;
    m_syncPlan = plan;
    if (plan == 1 || plan == 2) {
        while (!m_client.syncPaths().isEmpty())
            m_client.removeSyncPathAt(int(m_client.syncPaths().size()) - 1);
        setIncludeMediaFolders(LUMDefaultFolders::All);
        m_client.setSyncDocumentsMode(true);
        m_client.setSyncMoviesMode(true);
        m_client.setSyncMusicMode(true);
        m_client.setSyncPicturesMode(true);
        m_client.setSyncDeviceFilterMode(plan == 1 ? 1 : 0);
    }
    m_syncPaths.setDropsAllowed(customControlsActive());
    Q_EMIT changed();
}

void LUMApplicationController::setIncludeMediaFolders(int state)
{
    const QStringList present = LUMDefaultFolders::presentFolders();
    if (state == LUMDefaultFolders::All) {
        for (const QString &folder : present) {
            if (!LUMDefaultFolders::containsPath(m_client.syncPaths(), folder))
                m_client.insertSyncPath(int(m_client.syncPaths().size()), folder);
        }
    } else if (state == LUMDefaultFolders::None) {
        for (const QString &folder : present) {
            const QStringList paths = m_client.syncPaths();
            for (int row = int(paths.size()) - 1; row >= 0; --row) {
                if (LUMDefaultFolders::normalized(paths.at(row)) == LUMDefaultFolders::normalized(folder))
                    m_client.removeSyncPathAt(row);
            }
        }
    }
    m_includeMediaFolders = state;
    reevaluateDefaultFolders();
    Q_EMIT changed();
}

void LUMApplicationController::syncPathsChanged()
{
    reevaluateDefaultFolders();
    Q_EMIT m_activity.buttonStateShouldUpdate();
    Q_EMIT changed();
}

void LUMApplicationController::reevaluateDefaultFolders()
{
    m_includeMediaFolders = LUMDefaultFolders::evaluate(m_client.syncPaths(), LUMDefaultFolders::presentFolders());
}

void LUMApplicationController::syncButtonToggled(bool on)
{
    if (!on) {
        m_syncDeferred = false;
        m_client.cancelSyncNow();
        Q_EMIT changed();
        return;
    }
    // The agent refuses to start while it is still applying settings to this drive; ask once
    // that job is over rather than have the request turned away.
    const QString destination = m_client.syncDestinationPath();
    if (m_activity.activityType() == 4 && !destination.isEmpty() && m_activity.activePath() == destination) {
        m_syncDeferred = true;
        return;
    }
    m_activity.setActivityType(0);
    // Turned away (another sync of the drive runs; the agent shows why): the button follows
    // the activity again instead of staying on "Stop".
    if (!m_client.invokeSyncNow())
        Q_EMIT changed();
}

QVariantMap LUMApplicationController::syncHistory()
{
    return m_client.driveSyncStatus().value_or(QVariantMap());
}
