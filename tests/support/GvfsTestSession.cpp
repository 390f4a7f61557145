#include "GvfsTestSession.h"

#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace testsupport {

namespace {

QString missingCapability()
{
    if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
        return QStringLiteral("dbus-daemon is not installed (package dbus)");
    if (QStandardPaths::findExecutable(QStringLiteral("gio")).isEmpty())
        return QStringLiteral("gio is not installed (package libglib2.0-bin)");
    for (const char *program : { "gvfsd", "gvfsd-fuse", "gvfsd-smb" }) {
        const QString path = QStringLiteral("/usr/libexec/") + QString::fromLatin1(program);
        if (!QFile::exists(path))
            return QStringLiteral("%1 is not installed (packages gvfs gvfs-fuse gvfs-backends)").arg(path);
    }
    if (::access("/dev/fuse", R_OK | W_OK) != 0)
        return QStringLiteral("/dev/fuse is not usable here, so GVfs cannot show its mounts as folders");
    return {};
}

} // namespace

GvfsTestSession::GvfsTestSession()
{
    m_error = missingCapability();
    if (!m_error.isEmpty())
        return;
    if (!m_folder.isValid()) {
        m_error = QStringLiteral("cannot create the runtime folder");
        return;
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_folder.path());
    // Only GVfs's own mounts matter here; the desktop's volume monitors (udisks, MTP, ...) would
    // only slow every gio call down.
    environment.insert(QStringLiteral("GIO_USE_VOLUME_MONITOR"), QStringLiteral("unix"));
    environment.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    m_bus.setProcessEnvironment(environment);
    m_bus.setProcessChannelMode(QProcess::SeparateChannels);
    m_bus.setChildProcessModifier([] {
        ::setsid();
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    });
    const QString address = QStringLiteral("unix:path=") + m_folder.filePath(QStringLiteral("bus"));
    m_bus.start(QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")),
        { QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--nopidfile"),
            QStringLiteral("--address=") + address, QStringLiteral("--print-address=1") });
    if (!m_bus.waitForStarted()) {
        m_error = QStringLiteral("dbus-daemon did not start: ") + m_bus.errorString();
        return;
    }
    m_group = m_bus.processId();
    const bool printed = waitFor([this] { return m_bus.canReadLine() || m_bus.state() == QProcess::NotRunning; });
    if (!printed || !m_bus.canReadLine()) {
        m_error
            = QStringLiteral("dbus-daemon printed no address: ") + QString::fromLocal8Bit(m_bus.readAllStandardError());
        return;
    }
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QString::fromLocal8Bit(m_bus.readLine()).trimmed());
    m_environment = environment;
}

GvfsTestSession::~GvfsTestSession()
{
    unmountFuse();
    if (m_group > 0) {
        // gvfsd and its backends were started by the bus and leave when it goes; the group
        // signal makes sure of it.
        ::kill(static_cast<pid_t>(-m_group), SIGTERM);
        if (!m_bus.waitForFinished(10000)) {
            ::kill(static_cast<pid_t>(-m_group), SIGKILL);
            m_bus.waitForFinished();
        }
        ::kill(static_cast<pid_t>(-m_group), SIGKILL);
    }
    unmountFuse();
}

void GvfsTestSession::unmountFuse()
{
    if (!m_folder.isValid())
        return;
    // A FUSE mount left behind would keep the temporary folder from being removed.
    const QByteArray mountPoint = QFile::encodeName(m_folder.filePath(QStringLiteral("gvfs")));
    QFile table(QStringLiteral("/proc/self/mountinfo"));
    if (!table.open(QIODevice::ReadOnly) || !table.readAll().contains(' ' + mountPoint + ' '))
        return;
    if (::umount2(mountPoint.constData(), MNT_DETACH) != 0) {
        const QString fusermount = QStandardPaths::findExecutable(QStringLiteral("fusermount3"));
        if (!fusermount.isEmpty())
            QProcess::execute(
                fusermount, { QStringLiteral("-u"), QStringLiteral("-z"), QString::fromLocal8Bit(mountPoint) });
    }
}

} // namespace testsupport
