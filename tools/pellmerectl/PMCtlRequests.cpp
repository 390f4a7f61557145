#include "tools/pellmerectl/PMCtlRequests.h"

#include "protocol/AEConstants.h"
#include "tools/pellmerectl/PMCtlSettingTable.h"
#include "tools/pellmerectl/PMCtlValueParser.h"

namespace pmctl {

using namespace protocol;

namespace {

std::optional<AEDescriptor> resultDescriptor(const AEDescriptor &reply, AEKeyword property)
{
    if (auto value = reply.paramDescriptorForKeyword(property))
        return value;
    return reply.paramDescriptorForKeyword(keyDirectObject);
}

} // namespace

std::optional<AEDescriptor> PMCtlRequests::driveEvent(AEEventID eventID, const QString &drivePath)
{
    const auto url = AEDescriptor::descriptorWithFilePath(drivePath);
    if (!url)
        return std::nullopt;
    AEDescriptor event = AEDescriptor::appleEvent(kPMEventClass, eventID);
    event.setParamDescriptor(*url, keyDirectObject);
    return event;
}

AEDescriptor PMCtlRequests::agentEvent(AEEventID eventID)
{
    return AEDescriptor::appleEvent(kPMEventClass, eventID);
}

namespace {

// The text under keyword, when the record holds text there.
std::optional<QString> textOf(const AEDescriptor &record, AEKeyword keyword)
{
    const std::optional<AEDescriptor> value = record.paramDescriptorForKeyword(keyword);
    if (!value || value->descriptorType() != typeUTF8Text)
        return std::nullopt;
    return value->stringValue();
}

} // namespace

std::optional<QList<PMCtlNetworkDevice>> PMCtlRequests::networkDevicesResult(const AEDescriptor &reply)
{
    const std::optional<AEDescriptor> list = reply.paramDescriptorForKeyword(keyDirectObject);
    if (!list || !list->isList())
        return std::nullopt;
    QList<PMCtlNetworkDevice> devices;
    for (int i = 1; i <= list->numberOfItems(); ++i) {
        const std::optional<AEDescriptor> record = list->descriptorAtIndex(i);
        const std::optional<QString> name = record ? textOf(*record, kPMShareNameKey) : std::nullopt;
        if (!name)
            return std::nullopt;
        PMCtlNetworkDevice device;
        device.name = *name;
        device.address = textOf(*record, kPMShareAddressKey).value_or(QString());
        device.model = textOf(*record, kPMShareModelKey).value_or(QString());
        if (const std::optional<AEDescriptor> shares = record->paramDescriptorForKeyword(kPMShareListKey);
            shares && shares->isList()) {
            for (int j = 1; j <= shares->numberOfItems(); ++j) {
                const std::optional<AEDescriptor> share = shares->descriptorAtIndex(j);
                const std::optional<QString> shareName = share ? textOf(*share, kPMShareNameKey) : std::nullopt;
                if (!shareName)
                    return std::nullopt;
                device.shares.append({ *shareName, textOf(*share, kPMShareMountPathKey).value_or(QString()) });
            }
        }
        devices.append(device);
    }
    return devices;
}

std::optional<AEDescriptor> PMCtlRequests::setEvent(
    const PMCtlSetting &setting, const QString &drivePath, const QStringList &words, QString *why)
{
    auto refuse = [why](const QString &text) -> std::optional<AEDescriptor> {
        if (why)
            *why = text;
        return std::nullopt;
    };
    std::optional<AEDescriptor> value;
    switch (setting.kind) {
    case PMCtlSetting::Kind::Boolean: {
        if (words.size() != 1)
            return refuse(QStringLiteral("%1 takes one value: on or off").arg(setting.name));
        const auto flag = PMCtlValueParser::parseBool(words.first(), why);
        if (!flag)
            return std::nullopt;
        value = AEDescriptor::descriptorWithBOOL(*flag);
        break;
    }
    case PMCtlSetting::Kind::Integer: {
        if (words.size() != 1)
            return refuse(QStringLiteral("%1 takes one whole number").arg(setting.name));
        const auto number = PMCtlValueParser::parseInt32(words.first(), why);
        if (!number)
            return std::nullopt;
        value = AEDescriptor::descriptorWithInt32(*number);
        break;
    }
    case PMCtlSetting::Kind::PathList: {
        if (words.isEmpty())
            return refuse(QStringLiteral("%1 takes one or more paths").arg(setting.name));
        AEDescriptor list = AEDescriptor::listDescriptor();
        for (const QString &word : words) {
            const auto path = PMCtlValueParser::itemPath(word, why);
            if (!path)
                return std::nullopt;
            const auto url = AEDescriptor::descriptorWithFilePath(*path);
            if (!url)
                return refuse(QStringLiteral("%1: no file URL can be made of this path").arg(word));
            list.appendDescriptor(*url);
        }
        value = list;
        break;
    }
    }
    auto event = driveEvent(setting.setID, drivePath);
    if (!event)
        return refuse(QStringLiteral("%1: no file URL can be made of the drive's path").arg(drivePath));
    event->setParamDescriptor(*value, setting.property);
    return event;
}

std::optional<bool> PMCtlRequests::booleanResult(const AEDescriptor &reply, AEKeyword property)
{
    const auto value = resultDescriptor(reply, property);
    return value ? value->booleanValue() : std::nullopt;
}

std::optional<qint32> PMCtlRequests::int32Result(const AEDescriptor &reply, AEKeyword property)
{
    const auto value = resultDescriptor(reply, property);
    return value ? value->int32Value() : std::nullopt;
}

std::optional<QStringList> PMCtlRequests::pathListResult(const AEDescriptor &reply)
{
    const auto value = reply.paramDescriptorForKeyword(keyDirectObject);
    if (!value)
        return std::nullopt;
    QStringList paths;
    if (value->descriptorType() == typeFileURL) {
        const QString path = value->filePath();
        if (path.isEmpty())
            return std::nullopt;
        paths << path;
        return paths;
    }
    if (!value->isList())
        return std::nullopt;
    for (int index = 1; index <= value->numberOfItems(); ++index) {
        const QString path = value->descriptorAtIndex(index)->filePath();
        if (path.isEmpty())
            return std::nullopt;
        paths << path;
    }
    return paths;
}

std::optional<QString> PMCtlRequests::agentError(AEEventID eventID, const AEDescriptor &reply)
{
    const qint32 number = reply.errorNumber();
    if (number == 0)
        return std::nullopt;
    QString text = QStringLiteral("%1: error %2").arg(fourCharCodeToString(eventID)).arg(number);
    if (const auto message = reply.errorString(); message && !message->isEmpty())
        text += QStringLiteral(": ") + *message;
    return text;
}

} // namespace pmctl
