// The default media folders of the sync list: the user's Movies, Music and Pictures folders
// (the XDG user directories), then the music library folder, the photo library and the
// photo-booth library when they exist outside those folders (found as the agent finds them
// for a drive's default sync set).
//
//   const QStringList present = LUMDefaultFolders::presentFolders();
//   int state = LUMDefaultFolders::evaluate(client.syncPaths(), present);   // 1, 0 or -1
//
// Paths in a sync list may be written with "~"; they are compared expanded and cleaned.
//
// Stateless; the folders follow the environment at every call. Main thread for the titles.
#pragma once

#include <QString>
#include <QStringList>

class LUMDefaultFolders {
public:
    enum State { None = 0, All = 1, Some = -1 };

    // Movies, Music, Pictures, and the three libraries that exist, in that order.
    static QStringList presentFolders();
    // The music library folder outside the Music folder, or empty.
    static QString musicLibraryFolder();
    // All present ones in the list: All; none: None; else Some.
    static int evaluate(const QStringList &syncPaths, const QStringList &present);
    // True as soon as Movies, Music or Pictures is missing from the list; with all three
    // there, true only when the music library folder exists and is missing.
    static bool enableAdd(const QStringList &syncPaths);
    // Whether the list holds exactly the present default folders, no more, no less.
    static bool isExactlyDefault(const QStringList &syncPaths, const QStringList &present);
    static bool containsPath(const QStringList &syncPaths, const QString &path);
    static QString normalized(const QString &path);

    // "Include my Movies, Music and Pictures folders", with the folders' own names.
    static QString defaultFoldersTitle();
    // The display name of a media folder; "Movies(en)" and so on when it has none.
    static QString moviesName();
    static QString musicName();
    static QString picturesName();
    static QString documentsName();
};
