#include "agent/app/PMAgentDesktopHost.h"

#include "agent/app/PMApplicationController.h"
#include "agent/log/PMAgentLog.h"
#include "agent/log/PMLogController.h"
#include "agent/log/PMStandardDefaults.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

PMAgentDesktopHost::PMAgentDesktopHost(PMApplicationController &app)
    : m_app(app)
{
}

bool PMAgentDesktopHost::debugMode() const
{
    return PMStandardDefaults::sharedInstance().boolValue(PMStandardDefaults::kDebugKey);
}

void PMAgentDesktopHost::setDebugMode(bool on)
{
    // The store writes its file on every change.
    PMStandardDefaults::sharedInstance().setValue(PMStandardDefaults::kDebugKey, on);
    PMAgentLog::logMessage(on ? QStringLiteral("Debug mode on.") : QStringLiteral("Debug mode off."));
}

void PMAgentDesktopHost::attachLogView(PMLogView *view)
{
    PMLogController::sharedInstance().attachView(view);
}

QString PMAgentDesktopHost::logWindowTitle() const
{
    return PMLogController::sharedInstance().windowTitle();
}

QString PMAgentDesktopHost::logFrameAutosaveName() const
{
    return PMLogController::sharedInstance().frameAutosaveName();
}

QString PMAgentDesktopHost::flushLog()
{
    PMAgentLog::flushLog();
    return PMLogController::sharedInstance().logFilename();
}

void PMAgentDesktopHost::clearLog()
{
    PMLogController::sharedInstance().zapLogAndWindowContents();
}

QUrl PMAgentDesktopHost::helpUrl() const
{
    // Installed with the agent: <prefix>/libexec/pellmere beside <prefix>/share/doc/pellmere.
    const QString installed = QDir(QCoreApplication::applicationDirPath())
                                  .absoluteFilePath(QStringLiteral("../share/doc/pellmere/README.md"));
    if (QFileInfo::exists(installed))
        return QUrl::fromLocalFile(QDir::cleanPath(installed));
    PMAgentLog::logMessage(QStringLiteral("No help is installed (%1).").arg(QDir::cleanPath(installed)));
    return {};
}

void PMAgentDesktopHost::selectDevice()
{
    // Drives are chosen by connecting them; there is nothing to pick from the menu.
    PMAgentLog::debugMessage(QStringLiteral("Select Device: nothing to select."));
}

void PMAgentDesktopHost::quit()
{
    m_app.terminate();
}
