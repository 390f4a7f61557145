// Where the manager finds the agent program and writes the agent's per-user launch entries:
// the D-Bus activation file (the session bus starts the agent from it when the manager asks)
// and the XDG autostart entry (the desktop starts the agent at login), and where a system-wide
// install (the distribution's packages) put its own copies of both.
//
//   const LUMAgentPaths paths = LUMAgentPaths::standard();   // beside the manager, XDG folders
//   LUMAgentPaths forTest = LUMAgentPaths::standard(QStringLiteral("/build/src/agent/app/pellmere"));
//
// A plain value; any thread.
#pragma once

#include <QString>

struct LUMAgentPaths {
    QString agentExecutable;
    // $XDG_DATA_HOME/dbus-1/services/<bus name>.service
    QString activationFile;
    // $XDG_CONFIG_HOME/autostart/<bus name>.desktop
    QString autostartFile;
    // The first <dir>/dbus-1/services/<bus name>.service of $XDG_DATA_DIRS and the first
    // <dir>/autostart/<bus name>.desktop of $XDG_CONFIG_DIRS that exist; empty when none does.
    QString systemActivationFile;
    QString systemAutostartFile;

    // The given agent program (or the default one) and the entries in this user's XDG folders.
    static LUMAgentPaths standard(const QString &agentExecutable = QString());
    // The agent installed with the manager: <manager dir>/../libexec/pellmere, else
    // <manager dir>/pellmere, else the build tree's <manager dir>/../../agent/app/pellmere.
    // The first of these that is an executable file; the installed location when none is.
    static QString defaultAgentExecutable();
};
