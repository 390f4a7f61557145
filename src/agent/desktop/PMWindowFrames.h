// Where the agent's windows keep their frames: one entry per autosave name in
// $XDG_CONFIG_HOME/pellmere/window-frames.conf, so a window comes back where the user left it.
//
// Any thread; each call reads or writes the file.
#pragma once

#include <QByteArray>
#include <QString>

class PMWindowFrames {
public:
    static QString filePath();
    static QByteArray load(const QString &autosaveName);
    static void save(const QString &autosaveName, const QByteArray &frame);
};
