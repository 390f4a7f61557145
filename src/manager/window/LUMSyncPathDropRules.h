// Which paths may be dropped on the sync list, and where a moved row lands.
//
// A path is refused when it does not exist, is the root folder, or lies on another volume:
// a volume root (/media, /run/media/<user>, ... or PELLMERE_VOLUME_ROOTS), a drive mounted
// below one, or anything inside such a drive. The check is made on the path as given and on
// the path with its links resolved, so a link in the home folder pointing at a drive is
// refused too.
//
// Stateless; any thread.
#pragma once

#include <QString>
#include <QStringList>

class LUMSyncPathDropRules {
public:
    static bool isAcceptable(const QString &path);
    static bool allAcceptable(const QStringList &paths);
    // A row dragged from `fromRow` and dropped above `dropRow`: the row it ends at once it has
    // been taken out of the list.
    static int moveDestination(int fromRow, int dropRow);

private:
    static bool isOnAnotherVolume(const QString &absolutePath);
};
