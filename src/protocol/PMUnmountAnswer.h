// The agent's answer to a request to unmount a drive: whether it may go now, a status
// (0xF8DA0002 while a sync is in progress) and a message ("Sync In Progress").
#pragma once

#include <QString>
#include <QtGlobal>

namespace protocol {

inline constexpr quint32 kPMUnmountRefusedSyncInProgress = 0xF8DA0002;

struct PMUnmountAnswer {
    bool approved = true;
    quint32 status = 0;
    QString message;
};

} // namespace protocol
