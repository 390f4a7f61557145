#include "manager/client/LUMAgentPaths.h"

#include "protocol/PMBusNames.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

LUMAgentPaths LUMAgentPaths::standard(const QString &agentExecutable)
{
    LUMAgentPaths paths;
    paths.agentExecutable = agentExecutable.isEmpty() ? defaultAgentExecutable() : agentExecutable;
    const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    const QString configHome = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    // The session bus looks for <name>.service, so the file must carry the bus name.
    paths.activationFile
        = dataHome + QStringLiteral("/dbus-1/services/") + protocol::kPMServiceName + QStringLiteral(".service");
    paths.autostartFile
        = configHome + QStringLiteral("/autostart/") + protocol::kPMServiceName + QStringLiteral(".desktop");
    return paths;
}

QString LUMAgentPaths::defaultAgentExecutable()
{
    const QString managerDir = QCoreApplication::applicationDirPath();
    const QStringList candidates {
        managerDir + QStringLiteral("/../libexec/pellmere"),
        managerDir + QStringLiteral("/pellmere"),
        managerDir + QStringLiteral("/../../agent/app/pellmere"),
    };
    for (const QString &candidate : candidates) {
        const QFileInfo info(candidate);
        if (info.isFile() && info.isExecutable())
            return QDir::cleanPath(info.absoluteFilePath());
    }
    return QDir::cleanPath(candidates.first());
}
