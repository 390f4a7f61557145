#include "platform/SystemLog.h"

#include <QByteArray>
#include <QtGlobal>

#include <syslog.h>
#include <unistd.h>

#include <cstdio>

namespace platform {

namespace {

QByteArray g_identity; // openlog keeps the pointer, so the bytes must outlive every call.

void handler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    int priority = LOG_INFO;
    switch (type) {
    case QtDebugMsg:
        priority = LOG_DEBUG;
        break;
    case QtInfoMsg:
        priority = LOG_INFO;
        break;
    case QtWarningMsg:
        priority = LOG_WARNING;
        break;
    case QtCriticalMsg:
        priority = LOG_ERR;
        break;
    case QtFatalMsg:
        priority = LOG_CRIT;
        break;
    }
    const QByteArray text = message.toUtf8();
    const char *category = context.category ? context.category : "default";
    syslog(priority, "%s: %s", category, text.constData());
    if (isatty(STDERR_FILENO))
        fprintf(stderr, "%s: %s\n", category, text.constData());
    if (type == QtFatalMsg)
        abort();
}

} // namespace

void SystemLog::install(const QString &identity)
{
    g_identity = identity.toUtf8();
    openlog(g_identity.constData(), LOG_PID, LOG_USER);
    qInstallMessageHandler(handler);
}

} // namespace platform
