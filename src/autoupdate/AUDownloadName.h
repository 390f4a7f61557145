// The name a download gets in its folder: the last component of its address, made free by
// "-N" before the extension (Update.dmg, Update-2.dmg, Update-3.dmg; "name" gives "name-2";
// ".dmg" gives ".dmg-2").
#pragma once

#include <QString>
#include <QUrl>

class AUDownloadName {
public:
    // The last path component of url; empty for an address ending in "/" or an unsafe name.
    static QString fromUrl(const QUrl &url);
    // The first name of the series that does not exist in folder.
    static QString firstFree(const QString &folder, const QString &name);
};
