// What a file copy agent tells the object watching it: data progress, and the question what
// to do after an error. Both messages are optional; the defaults answer "does not respond".
//
// Called on the copying thread from inside PMFileCopyAgent::performCopy. A delegate may
// cancel the running copy by calling agent.setCancelled(true) from agentUpdate; the copy
// stops at its next event.
#pragma once

#include "agent/copy/PMFileCopyError.h"

#include <QtGlobal>
#include <optional>

class PMFileCopyAgent;

class PMFileCopyAgentDelegate {
public:
    enum Action { Continue = 0, Skip = 1, Quit = 2 };

    virtual ~PMFileCopyAgentDelegate() = default;

    // copiedBytes counts the completed files of this copy plus the bytes copied so far of the
    // current one. Answers true when the delegate responds.
    virtual bool agentUpdate(PMFileCopyAgent &agent, quint64 copiedBytes)
    {
        Q_UNUSED(agent);
        Q_UNUSED(copiedBytes);
        return false;
    }
    // 1 skips the failing item, 2 quits the whole copy, anything else continues; nullopt: the
    // delegate does not respond (the copy continues).
    virtual std::optional<int> agentActionRequired(PMFileCopyAgent &agent, const PMFileCopyError &error)
    {
        Q_UNUSED(agent);
        Q_UNUSED(error);
        return std::nullopt;
    }

protected:
    PMFileCopyAgentDelegate() = default;
    PMFileCopyAgentDelegate(const PMFileCopyAgentDelegate &) = default;
    PMFileCopyAgentDelegate &operator=(const PMFileCopyAgentDelegate &) = default;
};
