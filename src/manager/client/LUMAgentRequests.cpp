#include "manager/client/LUMAgentRequests.h"

#include "manager/client/LUMLog.h"
#include "protocol/AEConstants.h"
#include "protocol/PMControlClient.h"
#include "protocol/PMStatusArchive.h"

using namespace protocol;

namespace {

const char *const kClass = "LUMPellmereInterface";

// Where the quiet and continuous getters' answer may also be found.
constexpr AEKeyword kCurrentStateKeyword = fourCharCode("CST8");

struct SwitchEvents {
    const char *getter;
    const char *setter;
    AEEventID getID;
    AEEventID setID;
    AEKeyword property;
    const char *propertyName;
};

const SwitchEvents &eventsOf(LUMAgentRequests::Switch which)
{
    using Switch = LUMAgentRequests::Switch;
    static const SwitchEvents quiet { "quietModeStatus", "setQuietModeStatus", kPMGetQuietSyncStateID,
        kPMSetQuietSyncStateID, kPMQuietSyncStateProperty, "kPMQuietSyncStateProperty" };
    static const SwitchEvents continuous { "continuousSyncStatus", "setContinuousSyncStatus",
        kPMGetContinuousSyncStateID, kPMSetContinuousSyncStateID, kPMContinuousSyncStateProperty,
        "kPMContinuousSyncStateProperty" };
    static const SwitchEvents movies { "syncMoviesState", "setSyncMoviesState", kPMGetSyncMoviesStateID,
        kPMSetSyncMoviesStateID, kKRTSyncMoviesStateProperty, "kKRTSyncMoviesStateProperty" };
    static const SwitchEvents music { "syncMusicState", "setSyncMusicState", kPMGetSyncMusicStateID,
        kPMSetSyncMusicStateID, kKRTSyncMusicStateProperty, "kKRTSyncMusicStateProperty" };
    static const SwitchEvents pictures { "syncPicturesState", "setSyncPicturesState", kPMGetSyncPicturesStateID,
        kPMSetSyncPicturesStateID, kKRTSyncPicturesStateProperty, "kKRTSyncPicturesStateProperty" };
    static const SwitchEvents documents { "syncDocumentsState", "setSyncDocumentsState", kPMGetSyncDocumentsStateID,
        kPMSetSyncDocumentsStateID, kKRTSyncDocumentsStateProperty, "kKRTSyncDocumentsStateProperty" };
    static const SwitchEvents participate { "syncParticipateState", "setSyncParticipateState",
        kPMGetParticipateSyncStateID, kPMSetParticipateSyncStateID, kPMParticipateSyncStateProperty,
        "kPMParticipateSyncStateProperty" };
    switch (which) {
    case Switch::Quiet:
        return quiet;
    case Switch::Continuous:
        return continuous;
    case Switch::Movies:
        return movies;
    case Switch::Music:
        return music;
    case Switch::Pictures:
        return pictures;
    case Switch::Documents:
        return documents;
    case Switch::Participate:
        return participate;
    }
    return quiet;
}

void log(const QString &operation, const QString &text)
{
    LUMLog::debug(kClass, operation, text);
}

// A getter's value: the keyword as a parameter, then as an attribute, then the direct object.
std::optional<AEDescriptor> lookUp(const AEDescriptor &reply, AEKeyword keyword)
{
    if (auto value = reply.paramDescriptorForKeyword(keyword))
        return value;
    if (auto value = reply.attributeDescriptorForKeyword(keyword))
        return value;
    return reply.paramDescriptorForKeyword(keyDirectObject);
}

QString pathOf(const AEDescriptor &url)
{
    return url.filePath();
}

} // namespace

LUMAgentRequests::LUMAgentRequests(QDBusConnection connection)
    : m_connection(std::move(connection))
{
}

QString LUMAgentRequests::getterName(Switch which)
{
    return QString::fromLatin1(eventsOf(which).getter);
}

QString LUMAgentRequests::setterName(Switch which)
{
    return QString::fromLatin1(eventsOf(which).setter);
}

qint32 LUMAgentRequests::sendEventToPellmere(const AEDescriptor &event, std::optional<AEDescriptor> *reply)
{
    reply->reset();
    if (m_address.isEmpty())
        return kNoErr;
    PMControlClient client(m_connection, m_address);
    client.setTimeout(m_timeout);
    AEDescriptor answer;
    const qint32 status = client.sendEvent(event, &answer);
    if (status != kNoErr) {
        log(QStringLiteral("sendEventToPellmere"),
            QStringLiteral("sendEventToPM: AESend failed with code: %1 (%2)").arg(status).arg(client.lastErrorText()));
        return status;
    }
    *reply = answer;
    return kNoErr;
}

bool LUMAgentRequests::sendVolumeEvent(const QString &operation, const QString &drive, AEDescriptor event,
    qint32 *status, std::optional<AEDescriptor> *reply)
{
    if (drive.isEmpty()) {
        log(operation, QStringLiteral("sendVolumeEventToPellmere: syncDestinationPath is nil"));
    } else {
        const std::optional<AEDescriptor> url = AEDescriptor::descriptorWithFilePath(drive);
        if (!url) {
            log(operation, QStringLiteral("%1: unable to create descriptor for %2").arg(operation, drive));
            return false;
        }
        event.setParamDescriptor(*url, keyDirectObject);
    }
    *status = sendEventToPellmere(event, reply);
    return true;
}

bool LUMAgentRequests::checkStatus(qint32 status, const std::optional<AEDescriptor> &reply, const QString &message)
{
    if (status != kNoErr) {
        log(message, QStringLiteral("%1: apple event error %2").arg(message).arg(status));
        return false;
    }
    if (!reply) {
        log(message, QStringLiteral("%1: apple event returned null reply").arg(message));
        return false;
    }
    const std::optional<AEDescriptor> number = reply->paramDescriptorForKeyword(keyErrorNumber);
    const qint32 error = number ? number->int32Value().value_or(0) : 0;
    if (error == 0)
        return true;
    if (const std::optional<QString> text = reply->errorString())
        log(message, QStringLiteral("%1: script error %2 - %3").arg(message).arg(error).arg(*text));
    else
        log(message, QStringLiteral("%1: script error %2").arg(message).arg(error));
    return false;
}

std::optional<AEDescriptor> LUMAgentRequests::request(const QString &operation, AEEventID eventID, const QString &drive,
    const std::optional<std::pair<AEKeyword, AEDescriptor>> &parameter)
{
    AEDescriptor event = AEDescriptor::appleEvent(kPMEventClass, eventID);
    if (parameter)
        event.setParamDescriptor(parameter->second, parameter->first);
    qint32 status = kNoErr;
    std::optional<AEDescriptor> reply;
    if (!sendVolumeEvent(operation, drive, event, &status, &reply))
        return std::nullopt;
    if (!checkStatus(status, reply, operation))
        return std::nullopt;
    return reply;
}

QStringList LUMAgentRequests::syncSet(const QString &drive)
{
    const QString operation = QStringLiteral("syncSet");
    if (drive.isEmpty())
        return {};
    const std::optional<AEDescriptor> url = AEDescriptor::descriptorWithFilePath(drive);
    if (!url) {
        log(operation, QStringLiteral("syncSet: unable to create descriptor for %1").arg(drive));
        return {};
    }
    AEDescriptor event = AEDescriptor::appleEvent(kPMEventClass, kPMGetSyncListID);
    event.setParamDescriptor(*url, keyDirectObject);
    std::optional<AEDescriptor> reply;
    const qint32 status = sendEventToPellmere(event, &reply);
    if (!checkStatus(status, reply, operation))
        return {};
    const std::optional<AEDescriptor> result = reply->paramDescriptorForKeyword(keyDirectObject);
    if (!result)
        return {};
    QStringList paths;
    if (result->descriptorType() == typeFileURL) {
        if (const QString path = pathOf(*result); !path.isEmpty())
            paths << path;
        return paths;
    }
    if (!result->isList()) {
        log(operation,
            QStringLiteral("syncSet: url=%1 unexpected reply type: %2")
                .arg(url->fileURLValue().toString(), fourCharCodeToString(result->descriptorType())));
        return {};
    }
    for (int index = 1; index <= result->numberOfItems(); ++index) {
        const QString path = pathOf(*result->descriptorAtIndex(index));
        if (path.isEmpty()) {
            log(operation, QStringLiteral("syncSet: item %1 of the reply is not a file URL").arg(index));
            continue;
        }
        paths << path;
    }
    return paths;
}

void LUMAgentRequests::setSyncSet(const QString &drive, const QStringList &paths)
{
    const QString operation = QStringLiteral("setSyncSet");
    AEDescriptor items = AEDescriptor::listDescriptor();
    for (const QString &path : paths) {
        const std::optional<AEDescriptor> url = AEDescriptor::descriptorWithFilePath(path);
        if (!url) {
            // A list without this entry would drop it from the drive.
            log(operation, QStringLiteral("setSyncSet: unable to create descriptor for %1").arg(path));
            return;
        }
        items.appendDescriptor(*url);
    }
    AEDescriptor event = AEDescriptor::appleEvent(kPMEventClass, kPMSetSyncListID);
    event.setParamDescriptor(items, kPMSyncItemsProperty);
    qint32 status = kNoErr;
    std::optional<AEDescriptor> reply;
    sendVolumeEvent(operation, drive, event, &status, &reply);
}

bool LUMAgentRequests::switchState(Switch which, const QString &drive)
{
    const SwitchEvents &events = eventsOf(which);
    const QString operation = QString::fromLatin1(events.getter);
    const std::optional<AEDescriptor> reply = request(operation, events.getID, drive);
    if (!reply)
        return false;
    const bool stateGetter = which == Switch::Quiet || which == Switch::Continuous;
    const std::optional<AEDescriptor> value = lookUp(*reply, stateGetter ? kCurrentStateKeyword : events.property);
    const std::optional<bool> flag = value ? value->booleanValue() : std::nullopt;
    if (!flag) {
        log(operation, QStringLiteral("%1: unable to get %2").arg(operation, QString::fromLatin1(events.propertyName)));
        return false;
    }
    return *flag;
}

bool LUMAgentRequests::setSwitchState(Switch which, const QString &drive, bool value)
{
    const SwitchEvents &events = eventsOf(which);
    return request(QString::fromLatin1(events.setter), events.setID, drive,
        std::make_pair(events.property, AEDescriptor::descriptorWithBOOL(value)))
        .has_value();
}

qint32 LUMAgentRequests::syncDeviceFilterState(const QString &drive)
{
    const QString operation = QStringLiteral("syncDeviceFilterState");
    const std::optional<AEDescriptor> reply = request(operation, kPMGetSyncDeviceFilterID, drive);
    if (!reply)
        return 0;
    const std::optional<AEDescriptor> value = lookUp(*reply, kKRTSyncDeviceFilterProperty);
    const std::optional<qint32> number = value ? value->int32Value() : std::nullopt;
    if (!number) {
        log(operation, QStringLiteral("syncDeviceFilterState: unable to get kKRTSyncDeviceFilterProperty"));
        return 0;
    }
    return *number;
}

bool LUMAgentRequests::setSyncDeviceFilterState(const QString &drive, qint32 value)
{
    return request(QStringLiteral("setSyncDeviceFilterState"), kPMSetSyncDeviceFilterID, drive,
        std::make_pair(kKRTSyncDeviceFilterProperty, AEDescriptor::descriptorWithInt32(value)))
        .has_value();
}

std::optional<QVariantMap> LUMAgentRequests::driveSyncStatus(const QString &drive)
{
    const QString operation = QStringLiteral("driveSyncStatus");
    const std::optional<AEDescriptor> reply = request(operation, kPMStatusID, drive);
    if (!reply)
        return std::nullopt;
    const std::optional<AEDescriptor> archive = reply->paramDescriptorForKeyword(keyStatus);
    if (!archive || archive->data().isEmpty()) {
        log(operation, QStringLiteral("driveSyncStatus: unable to get kPMStatusProperty"));
        return std::nullopt;
    }
    QString why;
    std::optional<QVariantMap> status = PMStatusArchive::statusFromDescriptor(*archive, &why);
    if (!status)
        log(operation, QStringLiteral("driveSyncStatus: unable to read kPMStatusProperty: %1").arg(why));
    return status;
}

bool LUMAgentRequests::invokeSyncNow(const QString &drive)
{
    return request(QStringLiteral("invokeSyncNow"), kPMStartID, drive).has_value();
}

bool LUMAgentRequests::cancelSyncNow(const QString &drive)
{
    return request(QStringLiteral("cancelSyncNow"), kPMCancelID, drive).has_value();
}
