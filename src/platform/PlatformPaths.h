// Where Pellmere keeps its files on this system (the XDG base and user directories).
//
// Every function reads the environment at each call, so tests and a running agent that
// changes $HOME see the new values. Nothing here creates folders; callers do when they write.
//
// Thread-safe.
#pragma once

#include <QString>
#include <QStringList>

namespace platform {

enum class UserFolder { Movies, Music, Pictures, Documents, Desktop, Downloads };

class PlatformPaths {
public:
    static QString homeDirectory();
    static QString configHome(); // $XDG_CONFIG_HOME or ~/.config
    static QString stateHome(); // $XDG_STATE_HOME or ~/.local/state
    static QString dataHome(); // $XDG_DATA_HOME or ~/.local/share
    static QString runtimeDirectory(); // $XDG_RUNTIME_DIR, else a private folder below /tmp

    static QString agentLogPath(); // .../pellmere/Pellmere.log
    static QString managerLogPath(); // .../pellmere/PellmereUI.log
    static QString preferencesDirectory(); // $XDG_CONFIG_HOME/pellmere
    static QString standardDefaultsPath(); // the agent's "debug" and other plain defaults
    static QString hostPreferencesPath(const QString &hostName); // per-user, per-host preference set
    static QString commonPreferencesPath(); // $XDG_CONFIG_HOME/corvane/com.corvane.common.plist
    static QString autoUpdateDirectory(const QString &module);

    // The user's media folder from the XDG user directories (user-dirs.dirs), falling back
    // to the conventional English name below $HOME. Downloads stands in for a missing Desktop.
    static QString userFolder(UserFolder folder);

    // Folders below which removable and network volumes are mounted, most specific first.
    // PELLMERE_VOLUME_ROOTS (colon-separated folders), when set, replaces them.
    static QStringList volumeRoots();

    // When path lies below a volume root, answers that root's volume directory (the first
    // component below the root, for example "/media/alice/Photos"); otherwise an empty string.
    static QString volumeDirectoryContaining(const QString &path);
    // Whether a mount point is itself a volume directory: only volumes mounted there are
    // drives; internal disks, system, virtual and package mounts live elsewhere.
    static bool isVolumeDirectory(const QString &mountPoint);

    // Replaces a leading "~" or "~/" with the home directory.
    static QString expandTilde(const QString &path);
    // Replaces the home directory prefix with "~" (whole path components only).
    static QString abbreviateWithTilde(const QString &path);
};

} // namespace platform
