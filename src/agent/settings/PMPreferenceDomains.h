// Where the agent looks for the preference files of other applications whose libraries it
// syncs ("com.apple.PhotoBooth", "com.apple.iPhoto"): one place for every reader, the
// agent's own preferences folder ($XDG_CONFIG_HOME/pellmere), so the media filter and the
// default sync set always read the same file.
//
//   const QString file = PMPreferenceDomains::filePath(PMPreferenceDomains::kPhotoBooth);
//
// Stateless; any thread. The folder follows the environment at every call.
#pragma once

#include <QString>

class PMPreferenceDomains {
public:
    static inline const QString kPhotoBooth = QStringLiteral("com.apple.PhotoBooth");
    static inline const QString kIPhoto = QStringLiteral("com.apple.iPhoto");

    // "<agent preferences folder>/<domain>.plist".
    static QString filePath(const QString &domain);
};
