#include "agent/log/PMAgentLog.h"

#include "agent/log/PMLogController.h"
#include "agent/log/PMStandardDefaults.h"
#include "platform/PlatformPaths.h"

#include <QCoreApplication>

#include <atomic>

void PMAgentLog::setupLog()
{
    setupLog(platform::PlatformPaths::agentLogPath());
}

void PMAgentLog::setupLog(const QString &logFilePath)
{
    PMLogController &log = PMLogController::sharedInstance();
    log.setLogFilename(logFilePath);
    log.setFrameAutosaveName(QStringLiteral("com.corvane.pellmere.log"));
    log.setWindowTitle(QCoreApplication::translate("PMAgentLog", "Pellmere Log"));
    log.setSuppressTimeStamp(false);
    log.readLogFile();
    logMessage(kSeparatorLine);
    logMessage(QCoreApplication::translate("PMAgentLog", "Pellmere starting."));
    logMessage(QStringLiteral("Pellmere v%1").arg(QStringLiteral(PELLMERE_VERSION)));
}

void PMAgentLog::logMessage(const QString &text)
{
    PMLogController::sharedInstance().addLogString(text, true, true);
}

void PMAgentLog::debugMessage(const QString &text)
{
    if (isDebugEnabled())
        logMessage(text);
}

namespace {
std::atomic<bool> debugForThisRun { false };
}

void PMAgentLog::enableDebugForThisRun()
{
    debugForThisRun.store(true);
}

bool PMAgentLog::isDebugEnabled()
{
    return debugForThisRun.load() || PMStandardDefaults::sharedInstance().boolValue(PMStandardDefaults::kDebugKey);
}

bool PMAgentLog::flushLog()
{
    return PMLogController::sharedInstance().writeLogFile();
}
