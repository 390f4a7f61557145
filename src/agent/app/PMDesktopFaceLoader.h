// Decides at start whether the agent shows a desktop face, and loads it.
//
//   if (PMDesktopFaceLoader::hasDisplay(environment)) face = PMDesktopFaceLoader::load(&why);
//
// A display is WAYLAND_DISPLAY or DISPLAY set and not empty. The face is the plugin
// "pellmere-desktop.so" beside the agent's executable (in the build tree and when installed);
// it is loaded only then, so an agent without a display never maps the Widgets libraries.
// A plugin that is missing or broken leaves the agent headless, with the reason.
//
// Before any QCoreApplication exists; main thread.
#pragma once

#include <QProcessEnvironment>
#include <QString>

#include <memory>

class PMDesktopFace;

class PMDesktopFaceLoader {
public:
    static inline const QString kPluginFileName = QStringLiteral("pellmere-desktop.so");

    static bool hasDisplay(const QProcessEnvironment &environment);
    // The directory of the running executable (from /proc/self/exe), plus the plugin's name.
    static QString pluginPath();
    // The face, or null and why. The plugin stays loaded for the life of the process.
    static std::unique_ptr<PMDesktopFace> load(const QString &pluginPath, QString *why);
};
