#include "manager/window/LUMInstallOver.h"

#include "manager/client/LUMLog.h"
#include "platform/PlatformPaths.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

#include <csignal>
#include <sys/types.h>
#include <syslog.h>
#include <unistd.h>

namespace {

constexpr const char *kClass = "LUMApplicationController";

void report(const QString &text)
{
    ::syslog(LOG_INFO, "%s", text.toUtf8().constData());
    LUMLog::debug(kClass, QStringLiteral("installOver"), text);
}

bool isInside(const QString &path, const QString &folder)
{
    return path == folder || path.startsWith(folder + QLatin1Char('/'));
}

} // namespace

QString LUMInstallOver::installTreeOf(const QString &executablePath)
{
    QDir dir = QFileInfo(executablePath).absoluteDir();
    dir.cdUp();
    return dir.absolutePath();
}

QList<qint64> LUMInstallOver::processesRunningFrom(const QString &folder)
{
    QList<qint64> found;
    const QString clean = QDir::cleanPath(folder);
    const qint64 self = QCoreApplication::applicationPid();
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool numeric = false;
        const qint64 pid = entry.toLongLong(&numeric);
        if (!numeric || pid == self)
            continue;
        const QString exe = QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget();
        if (!exe.isEmpty() && isInside(QDir::cleanPath(exe), clean))
            found.append(pid);
    }
    return found;
}

bool LUMInstallOver::isSafeDestination(const QString &source, const QString &destination)
{
    const QString dest = QDir::cleanPath(QDir(destination).absolutePath());
    const QString src = QDir::cleanPath(QDir(source).absolutePath());
    if (destination.isEmpty() || dest == QStringLiteral("/")
        || dest == QDir::cleanPath(platform::PlatformPaths::homeDirectory()))
        return false;
    return !isInside(dest, src) && !isInside(src, dest);
}

bool LUMInstallOver::copyTree(const QString &from, const QString &to)
{
    if (!QDir().mkpath(to))
        return false;
    QDirIterator it(
        from, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info = it.nextFileInfo();
        const QString target = to + QLatin1Char('/') + QDir(from).relativeFilePath(info.filePath());
        if (info.isSymLink()) {
            // Links are copied as links, never followed.
            if (!QFile::link(info.symLinkTarget(), target))
                return false;
        } else if (info.isDir()) {
            if (!QDir().mkpath(target))
                return false;
        } else if (!QFile::copy(info.filePath(), target)
            || !QFile::setPermissions(target, QFile::permissions(info.filePath()))) {
            return false;
        }
    }
    return true;
}

LUMInstallOver::Result LUMInstallOver::run(
    const QString &source, const QString &destination, const QString &relativeExecutable)
{
    if (!isSafeDestination(source, destination)) {
        report(QStringLiteral("refusing to install the updated Pellmere manager over %1").arg(destination));
        return Result::Refused;
    }
    for (const qint64 pid : processesRunningFrom(destination))
        ::kill(pid_t(pid), SIGTERM);
    // Give them a moment to go before their files are removed; a stuck one is killed.
    QDeadlineTimer deadline(5000);
    while (!processesRunningFrom(destination).isEmpty() && !deadline.hasExpired())
        QThread::msleep(50);
    for (const qint64 pid : processesRunningFrom(destination))
        ::kill(pid_t(pid), SIGKILL);

    QDir(destination).removeRecursively();
    if (!copyTree(source, destination)) {
        report(QStringLiteral("failed to copy updated Pellmere manager to user location: %1, error: %2")
                   .arg(destination)
                   .arg(1));
        return Result::CopyFailed;
    }
    report(QStringLiteral("copied updated Pellmere manager to user location: %1").arg(destination));
    const QString program = QDir(destination).filePath(relativeExecutable);
    // The new copy outlives this one: it must not write into whatever this one's output was
    // connected to (a closed pipe would end it with SIGPIPE at its first warning).
    QProcess launch;
    launch.setProgram(program);
    launch.setStandardInputFile(QProcess::nullDevice());
    launch.setStandardOutputFile(QProcess::nullDevice());
    launch.setStandardErrorFile(QProcess::nullDevice());
    if (!launch.startDetached()) {
        report(QStringLiteral("launch of updated Pellmere manager failed with error: %1").arg(1));
        return Result::LaunchFailed;
    }
    report(QStringLiteral("launched updated Pellmere manager"));
    return Result::Launched;
}
