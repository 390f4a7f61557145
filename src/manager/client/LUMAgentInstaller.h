// Installs or renews the agent's per-user launch entries: the D-Bus activation file, through
// which the session bus starts the agent when the manager asks, and the XDG autostart entry,
// which starts it at login. The agent program itself is installed with the manager; both
// entries name it in Exec= and carry the installed-format version and the manager's build
// stamp, so a manager of another build or format rewrites them.
//
//   LUMAgentInstaller installer(LUMAgentPaths::standard());
//   if (!installer.installPellmere()) ... the log says why ...
//
// Decision: when both entries exist and the agent program is there, the install is valid if
// both entries carry version 46, this build's stamp and this agent's Exec= line; a valid
// install is left untouched. Otherwise both entries are rewritten (atomically, each through a
// temporary file), provided the agent program exists. Every step is logged.
//
// A system-wide install (the distribution's packages put both entries in $XDG_DATA_DIRS and
// $XDG_CONFIG_DIRS) that starts this very agent is valid as it is: nothing is written for the
// user, and per-user entries a manager wrote earlier are removed, since they would hide it.
//
// Main thread (file system only, no bus).
#pragma once

#include "manager/client/LUMAgentPaths.h"

#include <QString>

#include <optional>

class LUMAgentInstaller {
public:
    static constexpr int kInstalledFormatVersion = 46;
    static inline const QString kVersionKey = QStringLiteral("X-Pellmere-IntegerVersion");
    static inline const QString kBuildStampKey = QStringLiteral("X-Pellmere-BuildStamp");

    explicit LUMAgentInstaller(
        LUMAgentPaths paths, QString buildStamp = builtStamp(), int formatVersion = kInstalledFormatVersion);

    // True when the entries are valid afterwards (left alone or rewritten).
    bool installPellmere();

    // The stamp of this build of the manager.
    static QString builtStamp();

    // The Exec= line both entries carry: the agent program, run in place (not detaching, so
    // the bus and the session keep track of it). Nothing when the path cannot be written
    // into an entry (a control character in it).
    std::optional<QString> execLine() const;

private:
    enum class Verdict { Valid, Earlier, NotValid, Changed };
    Verdict judgeEntry(const QString &path, const QString &group, const QString &execLine) const;
    bool systemInstallValid(const QString &execLine) const;
    void removeOwnUserEntries() const;
    bool writeEntry(const QString &path, const QString &text) const;

    LUMAgentPaths m_paths;
    QString m_buildStamp;
    int m_formatVersion;
};
