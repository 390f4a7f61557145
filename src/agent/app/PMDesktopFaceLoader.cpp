#include "agent/app/PMDesktopFaceLoader.h"

#include "agent/app/PMDesktopFace.h"

#include <QFile>
#include <QFileInfo>
#include <QLibrary>

#include <limits.h>
#include <unistd.h>

bool PMDesktopFaceLoader::hasDisplay(const QProcessEnvironment &environment)
{
    return !environment.value(QStringLiteral("WAYLAND_DISPLAY")).isEmpty()
        || !environment.value(QStringLiteral("DISPLAY")).isEmpty();
}

QString PMDesktopFaceLoader::pluginPath()
{
    char buffer[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0)
        return {};
    const QString executable = QFile::decodeName(QByteArray(buffer, length));
    return QFileInfo(executable).absolutePath() + QLatin1Char('/') + kPluginFileName;
}

std::unique_ptr<PMDesktopFace> PMDesktopFaceLoader::load(const QString &pluginPath, QString *why)
{
    if (pluginPath.isEmpty() || !QFileInfo::exists(pluginPath)) {
        if (why)
            *why = QStringLiteral("no desktop plugin at \"%1\"").arg(pluginPath);
        return nullptr;
    }
    // The object may go: a library is unloaded only when asked to (unload()), never when its
    // QLibrary is destroyed, and the hint keeps any later unload() from removing the face's code
    // while anything of it may run.
    QLibrary library(pluginPath);
    library.setLoadHints(QLibrary::PreventUnloadHint);
    const auto create = reinterpret_cast<PMDesktopFaceFactory>(library.resolve(kPMDesktopFaceFactoryName));
    if (!create) {
        if (why)
            *why = QStringLiteral("cannot load the desktop plugin: %1").arg(library.errorString());
        return nullptr;
    }
    return std::unique_ptr<PMDesktopFace>(create());
}
