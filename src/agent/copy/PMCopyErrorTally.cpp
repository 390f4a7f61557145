#include "agent/copy/PMCopyErrorTally.h"

PMCopyErrorTally::PMCopyErrorTally(PMCopyHandler *inner)
    : m_inner(inner)
{
}

PMCopyDelegate *PMCopyErrorTally::delegate()
{
    return m_inner ? m_inner->delegate() : nullptr;
}

std::optional<bool> PMCopyErrorTally::shouldProceedAfterError(const QVariantMap &errorInfo)
{
    ++m_errors;
    return m_inner ? m_inner->shouldProceedAfterError(errorInfo) : std::nullopt;
}

std::optional<bool> PMCopyErrorTally::shouldProceedAfterErrorCopyingItem(
    int errorNumber, const QString &source, const QString &destination)
{
    ++m_errors;
    return m_inner ? m_inner->shouldProceedAfterErrorCopyingItem(errorNumber, source, destination) : std::nullopt;
}

std::optional<bool> PMCopyErrorTally::shouldProceedAfterErrorMovingItem(
    int errorNumber, const QString &source, const QString &destination)
{
    ++m_errors;
    return m_inner ? m_inner->shouldProceedAfterErrorMovingItem(errorNumber, source, destination) : std::nullopt;
}

std::optional<bool> PMCopyErrorTally::shouldProceedAfterErrorRemovingItem(int errorNumber, const QString &path)
{
    ++m_errors;
    return m_inner ? m_inner->shouldProceedAfterErrorRemovingItem(errorNumber, path) : std::nullopt;
}

bool PMCopyErrorTally::agentUpdate(PMFileCopyAgent &agent, quint64 copiedBytes)
{
    return m_inner ? m_inner->agentUpdate(agent, copiedBytes) : false;
}

std::optional<int> PMCopyErrorTally::agentActionRequired(PMFileCopyAgent &agent, const PMFileCopyError &error)
{
    ++m_errors;
    return m_inner ? m_inner->agentActionRequired(agent, error) : std::nullopt;
}
