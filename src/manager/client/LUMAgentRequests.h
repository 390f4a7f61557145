// The manager's requests to the agent: builds each control-protocol event (class 'mdSY',
// the selected drive's file URL as direct object), sends it to the agent's bus address and
// waits for the reply, checks the reply and reads its value. Every failure is logged
// ("D - LUMPellmereInterface(<operation>) - ...") and ends in the default answer: false, 0,
// an empty list or nothing.
//
//   LUMAgentRequests requests(QDBusConnection::sessionBus());
//   requests.setAgentAddress(uniqueBusName);              // from LUMAgentLauncher
//   const bool music = requests.switchState(LUMAgentRequests::Switch::Music, QStringLiteral("/media/alice/Backup"));
//
// Reply check, in order: a failed send (its status, including the 10 s timeout); no reply;
// 'errn' absent or 0 is success; otherwise 'errn' with 'errs' when there is one.
// Getters look for their value under the property keyword as a parameter, then as an
// attribute, then as the direct object (the quiet and continuous getters try 'CST8' first).
//
// Blocking: each request waits on the calling thread (the main thread) for at most the
// timeout. One thread.
#pragma once

#include "protocol/AEDescriptor.h"

#include <QDBusConnection>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <chrono>
#include <optional>
#include <utility>

class LUMAgentRequests {
public:
    static constexpr std::chrono::milliseconds kReplyTimeout = std::chrono::seconds(10);

    // The drive's on/off settings, each with its own get and set events.
    enum class Switch { Quiet, Continuous, Movies, Music, Pictures, Documents, Participate };

    explicit LUMAgentRequests(QDBusConnection connection);

    // The agent's unique bus name; while empty no event is sent (every request fails, the
    // reply check logging a null reply).
    void setAgentAddress(const QString &address) { m_address = address; }
    QString agentAddress() const { return m_address; }
    void setTimeout(std::chrono::milliseconds timeout) { m_timeout = timeout; }

    // 'GETL': the drive's sync list as paths; empty without a drive or on any failure.
    QStringList syncSet(const QString &drive);
    // 'SETL' with the whole list; the reply is not examined.
    void setSyncSet(const QString &drive, const QStringList &paths);
    bool switchState(Switch which, const QString &drive);
    // True when the agent took the new value.
    bool setSwitchState(Switch which, const QString &drive, bool value);
    qint32 syncDeviceFilterState(const QString &drive);
    bool setSyncDeviceFilterState(const QString &drive, qint32 value);
    // 'INFO': the per-user status dictionary; nothing when the agent reported none.
    std::optional<QVariantMap> driveSyncStatus(const QString &drive);
    // 'DOIT' and 'STOP': whether the agent accepted the command.
    bool invokeSyncNow(const QString &drive);
    bool cancelSyncNow(const QString &drive);

    // The operation names used in log lines ("syncMusicState", "setSyncMusicState").
    static QString getterName(Switch which);
    static QString setterName(Switch which);

private:
    // Sends `event` to the agent; with no address known answers 0 and leaves the reply unset.
    qint32 sendEventToPellmere(const protocol::AEDescriptor &event, std::optional<protocol::AEDescriptor> *reply);
    // Adds the drive's file URL as direct object first; false when the URL cannot be made.
    bool sendVolumeEvent(const QString &operation, const QString &drive, protocol::AEDescriptor event, qint32 *status,
        std::optional<protocol::AEDescriptor> *reply);
    static bool checkStatus(qint32 status, const std::optional<protocol::AEDescriptor> &reply, const QString &message);
    // Sends a volume event and checks its reply; the reply when the check passed.
    std::optional<protocol::AEDescriptor> request(const QString &operation, protocol::AEEventID eventID,
        const QString &drive,
        const std::optional<std::pair<protocol::AEKeyword, protocol::AEDescriptor>> &parameter = std::nullopt);

    QDBusConnection m_connection;
    QString m_address;
    std::chrono::milliseconds m_timeout = kReplyTimeout;
};
