// The identities of a computer-user.
//
// The drive identity ("<MAC>-<uid>", for example "001B638445E6-501") keys this computer-user
// everywhere on a drive: its entry in the drive's configuration file and its folders. The
// preference identity adds the creation time and is kept in the agent's preferences.
//
//   QString id = PMHostUserIdentity::uniqueHostUserId();  // computed once per process
//
// Thread-safe.
#pragma once

#include <QDateTime>
#include <QString>

namespace platform {
class HostIdentity;
}

class PMHostUserIdentity {
public:
    // "%@-%d" of the address without separators and the user id.
    static QString driveIdentity(const QString &macWithoutSeparators, uint userId);
    // "%@-%03X%01X%02X%02X%02X%02X-%d": address, UTC year, month, day, hour, minute, second in
    // upper-case hexadecimal, then the user id in decimal.
    static QString preferenceIdentity(const QString &macWithoutSeparators, const QDateTime &created, uint userId);

    // The drive identity of this computer and user, computed on first use.
    static QString uniqueHostUserId();
    // The same from an explicit source of host facts.
    static QString uniqueHostUserId(const platform::HostIdentity &host);
};
