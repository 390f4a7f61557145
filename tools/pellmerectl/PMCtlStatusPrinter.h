// Prints the status dictionary of a drive (the 'INFO' reply, keyed by each computer-user's
// unique host identity) as one block per user:
//
//   User 001122AABBCC-1000
//     Computer name  alice-laptop
//     Participate    yes
//     Continuous     no
//     Quiet          yes
//     Last sync      2026-12-08 04:01:02 (local time)
//     Sync set       ~/Music
//                    ~/Documents
//
// Pure function; any thread.
#pragma once

#include <QString>
#include <QVariantMap>

namespace pmctl {

class PMCtlStatusPrinter {
public:
    // Users in the order of their identities; values missing from a user's entry print "-".
    static QString format(const QVariantMap &status);
};

} // namespace pmctl
