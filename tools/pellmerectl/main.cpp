// pellmerectl: controls the Pellmere agent of this session from the command line (drives,
// settings, sync, stop, status, progress). See `pellmerectl --help`.
#include "tools/pellmerectl/PMCtlCommandLine.h"

#include <QCoreApplication>

#include <cstdio>

#include <unistd.h>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("pellmerectl"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PELLMERE_VERSION));
    const int exitCode = pmctl::PMCtlCommandLine(stdout, stderr).run(QCoreApplication::arguments().mid(1));
    // Leave without static destruction: Qt's D-Bus thread may still be dispatching a late
    // message from the bus while the type registry is torn down, and would then print
    // "Trying to construct an instance of an invalid type" after our last line. Everything
    // the run wrote is flushed here; nothing else holds data that must be saved.
    fflush(stdout);
    fflush(stderr);
    _exit(exitCode);
}
