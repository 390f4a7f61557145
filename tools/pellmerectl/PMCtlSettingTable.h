// The per-drive settings pellmerectl can read and write, each with the event that reads it,
// the event that writes it and the property keyword the written value travels under.
//
//   const PMCtlSetting *setting = PMCtlSettingTable::find(QStringLiteral("quiet"));
//   // setting->getID == 'GQSS', setting->setID == 'SQSS', setting->property == 'QSSP'
//
// Constant data; any thread.
#pragma once

#include "protocol/FourCharCode.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace pmctl {

struct PMCtlSetting {
    enum class Kind { Boolean, Integer, PathList };

    QString name; // as typed on the command line ("device-filter")
    Kind kind;
    protocol::AEEventID getID;
    protocol::AEEventID setID;
    protocol::AEKeyword property; // the keyword of the value in the set event
    QString summary; // one line for --help
};

class PMCtlSettingTable {
public:
    // In the order `get DRIVE` prints them.
    static const QList<PMCtlSetting> &all();
    // Nothing for an unknown name.
    static const PMCtlSetting *find(const QString &name);
    static QStringList names();
};

} // namespace pmctl
