#include "agent/desktop/PMWindowFrames.h"

#include <QSettings>
#include <QStandardPaths>

QString PMWindowFrames::filePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/pellmere/window-frames.conf");
}

QByteArray PMWindowFrames::load(const QString &autosaveName)
{
    if (autosaveName.isEmpty())
        return {};
    const QSettings settings(filePath(), QSettings::IniFormat);
    return settings.value(autosaveName + QStringLiteral("/frame")).toByteArray();
}

void PMWindowFrames::save(const QString &autosaveName, const QByteArray &frame)
{
    if (autosaveName.isEmpty())
        return;
    QSettings settings(filePath(), QSettings::IniFormat);
    settings.setValue(autosaveName + QStringLiteral("/frame"), frame);
}
