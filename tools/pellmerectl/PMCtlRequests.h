// Builds the control-protocol events pellmerectl sends and reads the values out of the
// agent's replies. Every event is of class 'mdSY' with the drive's file URL as direct object.
//
//   auto event = PMCtlRequests::driveEvent(kPMGetQuietSyncStateID, QStringLiteral("/media/alice/Backup"));
//   ... send it ...
//   const std::optional<bool> quiet = PMCtlRequests::booleanResult(reply, kPMQuietSyncStateProperty);
//
// Pure functions; any thread.
#pragma once

#include "protocol/AEDescriptor.h"

#include <QList>
#include <QStringList>
#include <QVariantMap>

#include <optional>

namespace pmctl {

struct PMCtlSetting;

// A network storage device as the agent's shares reply describes it.
struct PMCtlShare {
    QString name;
    QString mountPath; // empty when the share is not mapped
};
struct PMCtlNetworkDevice {
    QString name;
    QString address;
    QString model;
    QList<PMCtlShare> shares;
};

class PMCtlRequests {
public:
    // An event of class 'mdSY' with `eventID` and the drive's file URL; nothing for a path no
    // URL can be made of.
    static std::optional<protocol::AEDescriptor> driveEvent(protocol::AEEventID eventID, const QString &drivePath);
    // The set event of a setting, the value(s) parsed from `words` and put under the setting's
    // property keyword: 'true'/'fals', 'long', or a 'list' of file URLs. Nothing and a reason
    // when a word does not fit; then nothing must be sent.
    static std::optional<protocol::AEDescriptor> setEvent(
        const PMCtlSetting &setting, const QString &drivePath, const QStringList &words, QString *why);

    // An event of class 'mdSY' about the agent itself: no direct object.
    static protocol::AEDescriptor agentEvent(protocol::AEEventID eventID);

    // The devices of a shares reply ('----': a list of device records). Nothing when the
    // reply holds no such list or a record lacks its name.
    static std::optional<QList<PMCtlNetworkDevice>> networkDevicesResult(const protocol::AEDescriptor &reply);

    // A value answered by a getter: the property keyword as a parameter first, else the
    // direct object. Nothing when neither holds a value of the right type.
    static std::optional<bool> booleanResult(const protocol::AEDescriptor &reply, protocol::AEKeyword property);
    static std::optional<qint32> int32Result(const protocol::AEDescriptor &reply, protocol::AEKeyword property);
    // The sync list: a list of file URLs or a single one, each as a path. Nothing when the
    // reply holds neither or an item is not a usable file URL.
    static std::optional<QStringList> pathListResult(const protocol::AEDescriptor &reply);

    // "<event id>: error <errn>: <errs>" (or without the text) when the reply carries an
    // error number; nothing for a reply without one.
    static std::optional<QString> agentError(protocol::AEEventID eventID, const protocol::AEDescriptor &reply);
};

} // namespace pmctl
