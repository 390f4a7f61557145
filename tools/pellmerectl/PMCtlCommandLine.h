// The command line of pellmerectl: global options (--help, --version, --timeout SECONDS),
// the command and its arguments, help texts, and the hand-over to the command. Every word is
// checked before anything is sent; a bad one ends the run with exit status 2 and a message.
//
//   return PMCtlCommandLine(stdout, stderr).run(QCoreApplication::arguments().mid(1));
//
// Main thread (watch runs an event loop); blocking.
#pragma once

#include <QString>
#include <QStringList>

#include <chrono>
#include <cstdio>

namespace pmctl {

class PMCtlCommandLine {
public:
    PMCtlCommandLine(FILE *out, FILE *err);

    // Runs the command and answers the exit status.
    int run(const QStringList &arguments);

    static QString usage();
    // The help of one command; empty for an unknown one.
    static QString commandHelp(const QString &command);

private:
    int usageError(const QString &text);
    int runCommand(const QString &command, const QStringList &arguments, std::chrono::milliseconds timeout);

    FILE *m_out;
    FILE *m_err;
};

} // namespace pmctl
