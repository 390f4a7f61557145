// The commands of pellmerectl that ask the agent about one drive or change it: drives, get,
// set, sync, stop, remove, status and unmount; and shares, the agent's network devices. Arguments arrive already
// checked (the drive's path is absolute and canonical); each command prints its result and answers the exit status of
// the run (PMCtlExitCode.h).
//
//   PMCtlDriveCommands commands(session);
//   return commands.get(QStringLiteral("/media/alice/Backup"), PMCtlSettingTable::find("quiet"));
//
// Blocking, on the calling thread; one thread at a time.
#pragma once

#include "protocol/FourCharCode.h"
#include "tools/pellmerectl/PMCtlDriveLister.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace pmctl {

class PMCtlSession;
struct PMCtlSetting;

class PMCtlDriveCommands {
public:
    explicit PMCtlDriveCommands(PMCtlSession &session);

    // A table of the drives with what the agent says of each ('DHFS' valid, 'QURY' configured).
    int drives(const QList<PMCtlDrive> &drives);
    // One setting's value, or every setting as "name  value" lines when `setting` is null.
    int get(const QString &drive, const PMCtlSetting *setting);
    // Nothing is sent when a value does not fit the setting.
    int set(const QString &drive, const PMCtlSetting &setting, const QStringList &values);
    // 'DOIT', 'STOP' or 'REMV'.
    int request(const QString &drive, protocol::AEEventID eventID);
    int status(const QString &drive);
    // Asks the agent whether the drive may go; with `doUnmount` then runs umount on it.
    int unmount(const QString &drive, bool doUnmount);
    // The network storage devices the agent found, their shares and where each is mapped.
    int shares();

private:
    // The setting's value as text (a path list has one line per path); nothing after an error.
    std::optional<QStringList> readSetting(const QString &drive, const PMCtlSetting &setting);

    PMCtlSession &m_session;
};

} // namespace pmctl
