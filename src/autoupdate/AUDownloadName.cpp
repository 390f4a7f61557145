#include "autoupdate/AUDownloadName.h"

#include <QFileInfo>

QString AUDownloadName::fromUrl(const QUrl &url)
{
    const QString path = url.path(QUrl::FullyDecoded);
    const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    if (name == QLatin1String(".") || name == QLatin1String("..") || name.contains(QChar(0)))
        return {};
    return name;
}

QString AUDownloadName::firstFree(const QString &folder, const QString &name)
{
    const auto taken = [&folder](const QString &candidate) {
        // A dangling link still takes the name.
        return QFileInfo(folder + QLatin1Char('/') + candidate).exists()
            || QFileInfo(folder + QLatin1Char('/') + candidate).isSymLink();
    };
    if (!taken(name))
        return name;
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    // A name that is only an extension keeps it in front: ".dmg" -> ".dmg-2".
    const QString base = dot > 0 ? name.left(dot) : name;
    const QString extension = dot > 0 ? name.mid(dot) : QString();
    for (int n = 2;; ++n) {
        const QString candidate = base + QLatin1Char('-') + QString::number(n) + extension;
        if (!taken(candidate))
            return candidate;
    }
}
