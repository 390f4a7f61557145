#include "manager/client/LUMAgentPaths.h"

#include "protocol/PMBusNames.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

// The first existing <dir>/<relative> of the system's folders of that kind, skipping the
// user's own folder, which Qt lists first.
QString firstSystemFile(QStandardPaths::StandardLocation location, const QString &relative)
{
    const QString own = QDir::cleanPath(QStandardPaths::writableLocation(location));
    for (const QString &dir : QStandardPaths::standardLocations(location)) {
        if (QDir::cleanPath(dir) == own)
            continue;
        const QString candidate = dir + QLatin1Char('/') + relative;
        if (QFileInfo(candidate).isFile())
            return candidate;
    }
    return QString();
}

} // namespace

LUMAgentPaths LUMAgentPaths::standard(const QString &agentExecutable)
{
    LUMAgentPaths paths;
    paths.agentExecutable = agentExecutable.isEmpty() ? defaultAgentExecutable() : agentExecutable;
    const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    const QString configHome = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    // The session bus looks for <name>.service, so the file must carry the bus name.
    const QString service = QStringLiteral("dbus-1/services/") + protocol::kPMServiceName + QStringLiteral(".service");
    const QString autostart = QStringLiteral("autostart/") + protocol::kPMServiceName + QStringLiteral(".desktop");
    paths.activationFile = dataHome + QLatin1Char('/') + service;
    paths.autostartFile = configHome + QLatin1Char('/') + autostart;
    paths.systemActivationFile = firstSystemFile(QStandardPaths::GenericDataLocation, service);
    paths.systemAutostartFile = firstSystemFile(QStandardPaths::GenericConfigLocation, autostart);
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
