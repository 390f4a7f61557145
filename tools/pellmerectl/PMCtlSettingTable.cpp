#include "tools/pellmerectl/PMCtlSettingTable.h"

#include "protocol/AEConstants.h"

namespace pmctl {

using namespace protocol;
using Kind = PMCtlSetting::Kind;

const QList<PMCtlSetting> &PMCtlSettingTable::all()
{
    static const QList<PMCtlSetting> table = {
        { QStringLiteral("participate"), Kind::Boolean, kPMGetParticipateSyncStateID, kPMSetParticipateSyncStateID,
            kPMParticipateSyncStateProperty, QStringLiteral("this user takes part in syncing with the drive") },
        { QStringLiteral("continuous"), Kind::Boolean, kPMGetContinuousSyncStateID, kPMSetContinuousSyncStateID,
            kPMContinuousSyncStateProperty, QStringLiteral("sync on connect and after every change") },
        { QStringLiteral("quiet"), Kind::Boolean, kPMGetQuietSyncStateID, kPMSetQuietSyncStateID,
            kPMQuietSyncStateProperty, QStringLiteral("sync without showing a preview first") },
        { QStringLiteral("movies"), Kind::Boolean, kPMGetSyncMoviesStateID, kPMSetSyncMoviesStateID,
            kKRTSyncMoviesStateProperty, QStringLiteral("sync the Videos folder") },
        { QStringLiteral("music"), Kind::Boolean, kPMGetSyncMusicStateID, kPMSetSyncMusicStateID,
            kKRTSyncMusicStateProperty, QStringLiteral("sync the Music folder") },
        { QStringLiteral("pictures"), Kind::Boolean, kPMGetSyncPicturesStateID, kPMSetSyncPicturesStateID,
            kKRTSyncPicturesStateProperty, QStringLiteral("sync the Pictures folder") },
        { QStringLiteral("documents"), Kind::Boolean, kPMGetSyncDocumentsStateID, kPMSetSyncDocumentsStateID,
            kKRTSyncDocumentsStateProperty, QStringLiteral("sync the Documents folder") },
        { QStringLiteral("device-filter"), Kind::Integer, kPMGetSyncDeviceFilterID, kPMSetSyncDeviceFilterID,
            kKRTSyncDeviceFilterProperty, QStringLiteral("playback device whose media alone are copied (0: none)") },
        { QStringLiteral("sync-list"), Kind::PathList, kPMGetSyncListID, kPMSetSyncListID, kPMSyncItemsProperty,
            QStringLiteral("the folders and files synced onto the drive") },
    };
    return table;
}

const PMCtlSetting *PMCtlSettingTable::find(const QString &name)
{
    for (const PMCtlSetting &setting : all()) {
        if (setting.name == name)
            return &setting;
    }
    return nullptr;
}

QStringList PMCtlSettingTable::names()
{
    QStringList result;
    for (const PMCtlSetting &setting : all())
        result << setting.name;
    return result;
}

} // namespace pmctl
