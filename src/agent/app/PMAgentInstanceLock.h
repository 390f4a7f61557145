// Keeps the agent single per user even without a session bus: an exclusive flock on
// $XDG_RUNTIME_DIR/pellmere/agent.lock, held for the agent's life (the kernel drops it when
// the process dies, so a crashed agent never blocks the next one). The file holds the pid.
//
//   PMAgentInstanceLock lock;
//   if (!lock.acquire(&why)) ... // another agent runs; why names its pid
//
// Main thread.
#pragma once

#include <QString>

class PMAgentInstanceLock {
public:
    PMAgentInstanceLock();
    explicit PMAgentInstanceLock(QString path);
    ~PMAgentInstanceLock();
    PMAgentInstanceLock(const PMAgentInstanceLock &) = delete;
    PMAgentInstanceLock &operator=(const PMAgentInstanceLock &) = delete;

    [[nodiscard]] bool acquire(QString *why);
    QString path() const { return m_path; }

private:
    QString m_path;
    int m_fd = -1;
};
