#include "agent/app/PMControlEventHandlers.h"

#include "agent/app/PMActivityNotifier.h"
#include "agent/app/PMApplicationController.h"
#include "agent/app/PMContinuousSync.h"
#include "agent/app/PMDriveOperations.h"
#include "agent/app/PMNetworkStorage.h"
#include "agent/log/PMAgentLog.h"
#include "platform/PlatformPaths.h"
#include "protocol/AEConstants.h"
#include "protocol/PMEventHandlerTable.h"
#include "protocol/PMStatusArchive.h"

#include <QDir>
#include <QTimer>

using namespace protocol;

namespace {

using Action = std::function<PMHandlerResult(const PMHandlerRequest &)>;

PMEventHandler handler(const QString &name, Action action,
    PMEventHandler::MissingObjectText missing = PMEventHandler::MissingObjectText::Standard)
{
    return { name, std::move(action), missing, false };
}

// A boolean property: present and of type 'true' or 'fals'.
std::optional<bool> booleanProperty(
    const AEDescriptor &event, AEKeyword keyword, const QString &propertyName, PMHandlerResult *failure)
{
    const std::optional<AEDescriptor> value = event.paramDescriptorForKeyword(keyword);
    if (!value) {
        *failure
            = PMHandlerResult::withError(kParamErr, QStringLiteral("unable to retrieve %1 property").arg(propertyName));
        return std::nullopt;
    }
    if (value->descriptorType() != typeTrue && value->descriptorType() != typeFalse) {
        *failure = PMHandlerResult::withError(
            kParamErr, QStringLiteral("%1 property not typeTrue or typeFalse").arg(propertyName));
        return std::nullopt;
    }
    return value->descriptorType() == typeTrue;
}

// A setter of one boolean property; without a controller the handler says so in the debug
// log and answers no error.
Action booleanSetter(AEKeyword keyword, const QString &propertyName, const QString &noControllerText,
    std::function<bool(bool, const QString &)> apply)
{
    return [=](const PMHandlerRequest &request) {
        PMHandlerResult failure;
        const std::optional<bool> value = booleanProperty(request.event, keyword, propertyName, &failure);
        if (!value)
            return failure;
        if (!apply(*value, request.mountPath) && !noControllerText.isEmpty())
            PMAgentLog::debugMessage(noControllerText);
        return PMHandlerResult::none();
    };
}

Action booleanGetter(std::function<bool(const QString &)> get)
{
    return [get = std::move(get)](const PMHandlerRequest &request) {
        return PMHandlerResult::withValue(AEDescriptor::descriptorWithBOOL(get(request.mountPath)));
    };
}

} // namespace

void PMControlEventHandlers::install(PMEventHandlerTable &table, PMApplicationController &app)
{
    PMDriveOperations &drives = app.driveOperations();
    const auto lower = PMEventHandler::MissingObjectText::LowerCase;
    table.setDebugSink([](const QString &text) { PMAgentLog::debugMessage(text); });

    table.installHandler(
        kPMEventClass, kPMQueryID, handler(QStringLiteral("handleQueryEvent"), [&drives](const PMHandlerRequest &r) {
            if (!drives.isDriveValidForSync(r.mountPath, true))
                return PMHandlerResult { AEDescriptor::descriptorWithBOOL(false), kParamErr,
                    QStringLiteral("drive is not valid for sync") };
            return PMHandlerResult::withValue(
                AEDescriptor::descriptorWithBOOL(drives.isDriveSetupForSync(r.mountPath)));
        }));

    table.installHandler(kPMEventClass, kPMGetSyncListID,
        handler(QStringLiteral("handleGetSyncListEvent"), [&drives](const PMHandlerRequest &r) {
            if (!drives.isDriveValidForSync(r.mountPath, true))
                return PMHandlerResult::withError(kBadVolumeFormatErr, QStringLiteral("bad volume format"));
            AEDescriptor list = AEDescriptor::listDescriptor();
            for (const QString &item : drives.getSyncListForDrive(r.mountPath).value_or(QStringList())) {
                const QString path = QDir::cleanPath(platform::PlatformPaths::expandTilde(item));
                if (const std::optional<AEDescriptor> url = AEDescriptor::descriptorWithPathAsCFURL(path))
                    list.appendDescriptor(*url);
            }
            return PMHandlerResult::withValue(list);
        }));

    table.installHandler(kPMEventClass, kPMSetSyncListID,
        handler(QStringLiteral("handleSetSyncListEvent"), [&drives](const PMHandlerRequest &r) {
            const std::optional<AEDescriptor> items = r.event.paramDescriptorForKeyword(kPMSyncItemsProperty);
            if (!items)
                return PMHandlerResult::withError(kParamErr, QStringLiteral("unable to retrieve ITMZ property"));
            if (items->descriptorType() != typeAEList || !items->isList())
                return PMHandlerResult::withError(kParamErr, QStringLiteral("ITMZ property not typeAEList"));
            QStringList paths;
            PMHandlerResult result = PMHandlerResult::none();
            for (int index = 1; index <= items->numberOfItems(); ++index) {
                const std::optional<AEDescriptor> item = items->descriptorAtIndex(index);
                const QUrl url = item ? item->getFileURL() : QUrl();
                if (!url.isValid() || !url.isLocalFile()) {
                    // The items read so far are still applied.
                    result = PMHandlerResult::withError(
                        kParamErr, QStringLiteral("cannot retrieve fileURL for item %1").arg(index));
                    break;
                }
                const QString path = platform::PlatformPaths::abbreviateWithTilde(QDir::cleanPath(url.toLocalFile()));
                PMAgentLog::debugMessage(QStringLiteral("-handleSetSyncListEvent: item URL #%1 is %2 (%3)")
                                             .arg(index)
                                             .arg(url.toString(), path));
                paths.append(path);
            }
            drives.setSyncList(paths, r.mountPath);
            return result;
        }));

    table.installHandler(kPMEventClass, kPMGetContinuousSyncStateID,
        handler(QStringLiteral("handleGetContinuousSyncStateEvent"),
            booleanGetter([&drives](const QString &p) { return drives.getContinuousSyncStateForDrive(p); })));
    table.installHandler(kPMEventClass, kPMSetContinuousSyncStateID,
        handler(QStringLiteral("handleSetContinuousSyncStateEvent"),
            booleanSetter(kPMContinuousSyncStateProperty, QStringLiteral("CSSP"),
                QStringLiteral("-handleSetContinuousSyncStateEvent: no controller for this URL."),
                [&drives](bool on, const QString &p) { return drives.setContinuousSyncState(on, p); })));

    struct MediaKind {
        AEEventID getID;
        AEEventID setID;
        AEKeyword property;
        const char *name; // Movies, Music, ...
        bool (PMDriveOperations::*get)(const QString &) const;
        bool (PMDriveOperations::*set)(bool, const QString &);
    };
    const MediaKind kinds[] = {
        { kPMGetSyncMoviesStateID, kPMSetSyncMoviesStateID, kKRTSyncMoviesStateProperty, "Movies",
            &PMDriveOperations::syncMoviesStateForDrive, &PMDriveOperations::setSyncMoviesState },
        { kPMGetSyncMusicStateID, kPMSetSyncMusicStateID, kKRTSyncMusicStateProperty, "Music",
            &PMDriveOperations::syncMusicStateForDrive, &PMDriveOperations::setSyncMusicState },
        { kPMGetSyncPicturesStateID, kPMSetSyncPicturesStateID, kKRTSyncPicturesStateProperty, "Pictures",
            &PMDriveOperations::syncPicturesStateForDrive, &PMDriveOperations::setSyncPicturesState },
        { kPMGetSyncDocumentsStateID, kPMSetSyncDocumentsStateID, kKRTSyncDocumentsStateProperty, "Documents",
            &PMDriveOperations::syncDocumentsStateForDrive, &PMDriveOperations::setSyncDocumentsState },
    };
    for (const MediaKind &kind : kinds) {
        const QString name = QString::fromLatin1(kind.name);
        const auto get = kind.get;
        const auto set = kind.set;
        table.installHandler(kPMEventClass, kind.getID,
            handler(QStringLiteral("handleSync%1StateEvent").arg(name),
                booleanGetter([&drives, get](const QString &p) { return (drives.*get)(p); }), lower));
        table.installHandler(kPMEventClass, kind.setID,
            handler(QStringLiteral("handleSetSync%1StateEvent").arg(name),
                booleanSetter(kind.property, QStringLiteral("kKRTSync%1StateProperty").arg(name),
                    QStringLiteral("-handleSetSync%1StateEvent: no sync controller for this URL.").arg(name),
                    [&drives, set](bool on, const QString &p) { return (drives.*set)(on, p); })));
    }

    table.installHandler(kPMEventClass, kPMGetSyncDeviceFilterID,
        handler(
            QStringLiteral("handleSyncDeviceFilterEvent"),
            [&drives](const PMHandlerRequest &r) {
                return PMHandlerResult::withValue(
                    AEDescriptor::descriptorWithInt32(drives.syncDeviceFilterForDrive(r.mountPath)));
            },
            lower));
    table.installHandler(kPMEventClass, kPMSetSyncDeviceFilterID,
        handler(QStringLiteral("handleSetSyncDeviceFilterEvent"), [&drives](const PMHandlerRequest &r) {
            const std::optional<AEDescriptor> value = r.event.paramDescriptorForKeyword(kKRTSyncDeviceFilterProperty);
            if (!value)
                return PMHandlerResult::withError(
                    kParamErr, QStringLiteral("unable to retrieve kKRTSyncDeviceFilterProperty property"));
            const std::optional<qint32> filter
                = value->descriptorType() == typeSInt32 ? value->int32Value() : std::nullopt;
            if (!filter)
                return PMHandlerResult::withError(kParamErr);
            if (!drives.setSyncDeviceFilter(*filter, r.mountPath))
                PMAgentLog::debugMessage(
                    QStringLiteral("-handleSetSyncDeviceFilterEvent: no sync controller for this URL."));
            return PMHandlerResult::none();
        }));

    table.installHandler(kPMEventClass, kPMGetParticipateSyncStateID,
        handler(QStringLiteral("handleGetParticipateSyncStateEvent"),
            booleanGetter([&drives](const QString &p) { return drives.getParticipateSyncStateForDrive(p); })));
    table.installHandler(kPMEventClass, kPMSetParticipateSyncStateID,
        handler(QStringLiteral("handleSetParticipateSyncStateEvent"),
            booleanSetter(kPMParticipateSyncStateProperty, QStringLiteral("PSSP"), QString(),
                [&drives, &app](bool on, const QString &p) {
                    drives.setParticipateSyncState(on, p);
                    if (on) {
                        // Re-arms what depends on the continuous state now that the drive takes part.
                        drives.setContinuousSyncState(drives.getContinuousSyncStateForDrive(p), p);
                        app.continuousSync().updateContinuousSyncSettings();
                    } else {
                        drives.cancelSyncForDriveAt(p);
                    }
                    return true;
                })));

    table.installHandler(kPMEventClass, kPMIsDriveHFSPlusID,
        handler(QStringLiteral("handleIsDriveHFSPlusEvent"), [&drives](const PMHandlerRequest &r) {
            return PMHandlerResult::withValue(
                AEDescriptor::descriptorWithBOOL(drives.isDriveValidForSync(r.mountPath, true)));
        }));

    table.installHandler(kPMEventClass, kPMGetQuietSyncStateID,
        handler(QStringLiteral("handleGetQuietSyncStateEvent"),
            booleanGetter([&drives](const QString &p) { return drives.getQuietSyncStateForDrive(p); })));
    table.installHandler(kPMEventClass, kPMSetQuietSyncStateID,
        handler(QStringLiteral("handleSetQuietSyncStateEvent"),
            booleanSetter(kPMQuietSyncStateProperty, QStringLiteral("QSSP"), QString(),
                [&drives](bool on, const QString &p) { return drives.setQuietSyncState(on, p); })));

    table.installHandler(
        kPMEventClass, kPMStartID, handler(QStringLiteral("handleStartEvent"), [&drives](const PMHandlerRequest &r) {
            switch (drives.startSyncForDriveAt(r.mountPath)) {
            case PMDriveOperations::StartOutcome::Started:
                break;
            case PMDriveOperations::StartOutcome::UnknownDrive:
                return PMHandlerResult::withError(kBadVolumeFormatErr,
                    QStringLiteral("The drive \"%1\" is not one Pellmere syncs.").arg(r.mountPath));
            case PMDriveOperations::StartOutcome::Busy:
                return PMHandlerResult::withError(kFBsyErr,
                    QStringLiteral("The drive \"%1\" is already involved in a sync operation.").arg(r.mountPath));
            }
            return PMHandlerResult::none();
        }));
    table.installHandler(
        kPMEventClass, kPMCancelID, handler(QStringLiteral("handleCancelEvent"), [&drives](const PMHandlerRequest &r) {
            drives.cancelSyncForDriveAt(r.mountPath);
            return PMHandlerResult::none();
        }));
    table.installHandler(kPMEventClass, kPMRemoveSyncID,
        handler(QStringLiteral("handleRemoveSyncEvent"), [&drives](const PMHandlerRequest &r) {
            return PMHandlerResult::withValue(AEDescriptor::descriptorWithBOOL(drives.removeDriveSync(r.mountPath)));
        }));

    table.installHandler(kPMEventClass, kPMStatusID,
        handler(QStringLiteral("handleStatusEvent"), [&drives, &app](const PMHandlerRequest &r) {
            PMHandlerResult result = PMHandlerResult::none();
            if (const std::optional<QVariantMap> status = drives.statusForDrive(r.mountPath)) {
                QString why;
                if (const std::optional<AEDescriptor> archive = PMStatusArchive::statusDescriptor(*status, &why))
                    result = PMHandlerResult::withValue(*archive);
                else
                    PMAgentLog::logMessage(
                        QStringLiteral("-handleStatusEvent: cannot archive the status: %1").arg(why));
            }
            // After the reply is on its way.
            QTimer::singleShot(0, &app, [&app] { app.activityNotifier().sendActivityNotification(false); });
            return result;
        }));

    // The devices network storage found; an empty list when the agent runs without it.
    PMEventHandler shares = handler(QStringLiteral("handleListSharesEvent"), [&app](const PMHandlerRequest &) {
        AEDescriptor list = AEDescriptor::listDescriptor();
        if (const PMNetworkStorage *storage = app.networkStorage()) {
            for (const PMNetworkStorage::Device &device : storage->devices()) {
                AEDescriptor record = AEDescriptor::recordDescriptor();
                record.setParamDescriptor(AEDescriptor::descriptorWithString(device.name), kPMShareNameKey);
                record.setParamDescriptor(AEDescriptor::descriptorWithString(device.address), kPMShareAddressKey);
                record.setParamDescriptor(AEDescriptor::descriptorWithString(device.model), kPMShareModelKey);
                AEDescriptor shareList = AEDescriptor::listDescriptor();
                for (const PMNetworkStorage::Share &share : device.shares) {
                    AEDescriptor shareRecord = AEDescriptor::recordDescriptor();
                    shareRecord.setParamDescriptor(AEDescriptor::descriptorWithString(share.name), kPMShareNameKey);
                    if (!share.mountPath.isEmpty())
                        shareRecord.setParamDescriptor(
                            AEDescriptor::descriptorWithString(share.mountPath), kPMShareMountPathKey);
                    shareList.appendDescriptor(shareRecord);
                }
                record.setParamDescriptor(shareList, kPMShareListKey);
                list.appendDescriptor(record);
            }
        }
        return PMHandlerResult::withValue(list);
    });
    shares.needsDrive = false;
    table.installHandler(kPMEventClass, kPMListSharesID, shares);
}
