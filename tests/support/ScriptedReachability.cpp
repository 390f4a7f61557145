#include "support/ScriptedReachability.h"

#include <QMutexLocker>

namespace testsupport {

void ScriptedReachability::setReachable(const QString &address, bool reachable)
{
    {
        QMutexLocker locker(&m_lock);
        if (reachable)
            m_reachable.insert(address);
        else
            m_reachable.remove(address);
    }
    Q_EMIT changed();
}

bool ScriptedReachability::isReachable(const QHostAddress &address) const
{
    QMutexLocker locker(&m_lock);
    return m_reachable.contains(address.toString());
}

} // namespace testsupport
