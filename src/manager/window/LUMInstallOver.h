// The hand-over mode of the manager ("corvane-pellmere installOver DEST"): the updater starts
// the new copy of the manager this way. It stops the manager still running from DEST,
// replaces the install tree at DEST with the one this copy runs from, and starts the copy
// now at DEST. Every program is started with an argument vector, never through a shell.
//
//   LUMInstallOver::Result r = LUMInstallOver::run(LUMInstallOver::installTreeOf(exe), dest,
//                                                  QStringLiteral("bin/corvane-pellmere"));
//
// A destination that is the root folder, the home folder, or overlaps the source is refused
// (nothing is removed).
//
// Main thread.
#pragma once

#include <QList>
#include <QString>

class LUMInstallOver {
public:
    enum class Result { Launched, Refused, CopyFailed, LaunchFailed };

    static Result run(const QString &source, const QString &destination, const QString &relativeExecutable);
    // The install tree an executable runs from: its path without "bin/<program>".
    static QString installTreeOf(const QString &executablePath);
    // The processes (other than this one) whose program lies inside folder.
    static QList<qint64> processesRunningFrom(const QString &folder);

private:
    static bool copyTree(const QString &from, const QString &to);
    static bool isSafeDestination(const QString &source, const QString &destination);
};
