// Reachability decided by the test: addresses are unreachable until the test says otherwise,
// and every change is announced as the network watcher would. Main thread.
#pragma once

#include "netstorage/PMReachability.h"

#include <QMutex>
#include <QSet>

namespace testsupport {

class ScriptedReachability : public PMReachability {
    Q_OBJECT

public:
    using PMReachability::PMReachability;

    // Makes address reachable or not and announces the change.
    void setReachable(const QString &address, bool reachable);
    bool isReachable(const QHostAddress &address) const override;

private:
    mutable QMutex m_lock;
    QSet<QString> m_reachable;
};

} // namespace testsupport
