#include "PMSmbShareService.h"

#include "netstorage/PMGvfsShareFolder.h"
#include "netstorage/PMSmbContext.h"
#include "platform/MountTable.h"

#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <QUrl>

#include <arpa/inet.h>

namespace {

const QString gvfsFuseType = QStringLiteral("fuse.gvfsd-fuse");

bool isHiddenShare(const QString &share)
{
    return share.endsWith(QLatin1Char('$'));
}

// The kernel's "//server/share" source of a cifs mount as "server/share".
QString cifsAddress(const QString &source)
{
    if (!source.startsWith(QLatin1String("//")))
        return {};
    const QString rest = source.mid(2);
    const QStringList parts = rest.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (parts.size() < 2)
        return {};
    return parts.at(0) + QLatin1Char('/') + parts.at(1);
}

// Whether folder is where gvfsd-fuse shows GVfs's mounts.
bool isGvfsFuseMount(const QString &folder)
{
    const auto entry = platform::MountTable::entryForPath(folder);
    return entry && entry->fsType == gvfsFuseType && entry->mountPoint == folder;
}

// Whether the GVfs folder lists a mount of that name. The listing comes from gvfsd-fuse's own
// table of mounts, without asking the server, so it answers at once even when the server is
// gone (a stat of the share's folder would wait on it).
bool isListedIn(const QString &gvfsFolder, const QString &name)
{
    return QDir(gvfsFolder).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden).contains(name);
}

} // namespace

PMSmbShareService::PMSmbShareService()
    : PMSmbShareService(Options {})
{
}

PMSmbShareService::PMSmbShareService(Options options)
    : m_options(std::move(options))
{
}

bool PMSmbShareService::isValidHost(const QString &host)
{
    const qsizetype colon = host.indexOf(QLatin1Char(':'));
    const QString address = colon < 0 ? host : host.left(colon);
    in_addr parsed {};
    if (inet_pton(AF_INET, address.toLatin1().constData(), &parsed) != 1)
        return false;
    if (colon < 0)
        return true;
    const QString portText = host.mid(colon + 1);
    bool ok = false;
    const int port = portText.toInt(&ok);
    return ok && port > 0 && port <= 65535 && portText == QString::number(port);
}

bool PMSmbShareService::listPublicShares(const QString &host, QStringList *shares, QString *errorText)
{
    shares->clear();
    if (!isValidHost(host)) {
        *errorText = QStringLiteral("not a device address: \"%1\"").arg(host);
        qWarning().noquote() << "PMSmbShareService:" << *errorText;
        return false;
    }
    PMSmbContext context(m_options.timeout);
    QStringList all;
    if (!context.listDiskShares(host, &all, errorText)) {
        qWarning().noquote() << "PMSmbShareService:" << *errorText;
        return false;
    }
    for (const QString &share : std::as_const(all)) {
        if (!isHiddenShare(share))
            shares->append(share);
    }
    shares->sort();
    return true;
}

QString PMSmbShareService::gvfsFolder() const
{
    // GVfs follows GLib: the runtime folder, else the cache folder.
    QString base = m_options.environment.value(QStringLiteral("XDG_RUNTIME_DIR"));
    if (base.isEmpty()) {
        base = m_options.environment.value(QStringLiteral("XDG_CACHE_HOME"));
        if (base.isEmpty())
            base = m_options.environment.value(QStringLiteral("HOME")) + QStringLiteral("/.cache");
    }
    return QDir(base).filePath(QStringLiteral("gvfs"));
}

QString PMSmbShareService::findMountedShare(const QString &host, const QString &share) const
{
    const QDir folder(gvfsFolder());
    const QStringList names = folder.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QString &name : names) {
        const auto parsed = PMGvfsShareFolder::parse(name);
        if (parsed && parsed->hostText() == host && parsed->share().compare(share, Qt::CaseInsensitive) == 0)
            return folder.filePath(name);
    }
    return {};
}

bool PMSmbShareService::runGio(const QStringList &arguments, QString *errorText) const
{
    const QString gio = QStandardPaths::findExecutable(QStringLiteral("gio"));
    if (gio.isEmpty()) {
        *errorText = QStringLiteral("gio is not installed (GVfs mounts need it)");
        return false;
    }
    QProcess process;
    process.setProcessEnvironment(m_options.environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(gio, arguments);
    if (!process.waitForStarted()) {
        *errorText = QStringLiteral("gio did not start: ") + process.errorString();
        return false;
    }
    // A guest mount must not wait for a password: gio reads one from its input, which ends here.
    process.closeWriteChannel();
    if (!process.waitForFinished(static_cast<int>(m_options.timeout.count()))) {
        process.kill();
        process.waitForFinished();
        *errorText = QStringLiteral("gio %1 did not finish in time").arg(arguments.join(QLatin1Char(' ')));
        return false;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        *errorText = QStringLiteral("gio %1 failed: %2")
                         .arg(arguments.join(QLatin1Char(' ')), QString::fromLocal8Bit(process.readAll()).trimmed());
        return false;
    }
    return true;
}

bool PMSmbShareService::mountShare(const QString &host, const QString &share, QString *mountPath, QString *errorText)
{
    mountPath->clear();
    if (!isValidHost(host) || share.isEmpty() || share.contains(QLatin1Char('/'))) {
        *errorText = QStringLiteral("not a share address: \"%1/%2\"").arg(host, share);
        qWarning().noquote() << "PMSmbShareService:" << *errorText;
        return false;
    }
    QString existing = findMountedShare(host, share);
    if (existing.isEmpty()) {
        const QString url
            = QStringLiteral("smb://") + host + QLatin1Char('/') + QString::fromLatin1(QUrl::toPercentEncoding(share));
        if (!runGio({ QStringLiteral("mount"), QStringLiteral("-a"), url }, errorText)) {
            qWarning().noquote() << "PMSmbShareService:" << *errorText;
            return false;
        }
        // gvfsd-fuse hears of the new mount from the GVfs daemon and shows its folder a moment
        // after gio has returned: wait for the folder, within the bound of the mount itself.
        QElapsedTimer waited;
        waited.start();
        existing = findMountedShare(host, share);
        while (existing.isEmpty() && waited.elapsed() < m_options.timeout.count()) {
            QThread::msleep(50);
            existing = findMountedShare(host, share);
        }
    }
    if (existing.isEmpty()) {
        // gio mounted it, but no FUSE folder shows it: gvfsd-fuse is not running here.
        *errorText = QStringLiteral("%1/%2 was mounted, but %3 does not show it (is gvfsd-fuse running?)")
                         .arg(host, share, gvfsFolder());
        qWarning().noquote() << "PMSmbShareService:" << *errorText;
        return false;
    }
    *mountPath = existing;
    return true;
}

bool PMSmbShareService::unmountShare(const QString &mountPath)
{
    const QFileInfo info(mountPath);
    const auto folder = PMGvfsShareFolder::parse(info.fileName());
    const QString parent = QDir::cleanPath(info.absolutePath());
    if (folder && (parent == QDir::cleanPath(gvfsFolder()) || isGvfsFuseMount(parent))) {
        if (!isListedIn(parent, info.fileName()))
            return true;
        QString errorText;
        if (!runGio({ QStringLiteral("mount"), QStringLiteral("-u"), folder->url() }, &errorText))
            qWarning().noquote() << "PMSmbShareService:" << errorText;
        // The FUSE folder goes away once gvfsd has let go of the mount, shortly after gio returns.
        QElapsedTimer clock;
        clock.start();
        while (isListedIn(parent, info.fileName())) {
            if (clock.elapsed() > m_options.timeout.count())
                return false;
            QThread::msleep(20);
        }
        return true;
    }
    const auto entry = platform::MountTable::entryForPath(mountPath);
    if (!entry || entry->mountPoint != QDir::cleanPath(mountPath) || entry->fsType != QLatin1String("cifs"))
        return !entry || entry->mountPoint != QDir::cleanPath(mountPath);
    QProcess umount;
    umount.start(QStringLiteral("umount"), { mountPath });
    if (!umount.waitForFinished(static_cast<int>(m_options.timeout.count()))) {
        umount.kill();
        umount.waitForFinished();
    }
    const auto after = platform::MountTable::entryForPath(mountPath);
    return !after || after->mountPoint != QDir::cleanPath(mountPath);
}

QString PMSmbShareService::networkAddress(const QString &mountPath)
{
    const QFileInfo info(mountPath);
    const auto folder = PMGvfsShareFolder::parse(info.fileName());
    if (folder) {
        // Only a share GVfs shows now through its FUSE mount counts, not any folder of that
        // name, nor one that was unmounted.
        const QString parent = QDir::cleanPath(info.absolutePath());
        if (isGvfsFuseMount(parent) && isListedIn(parent, info.fileName()))
            return folder->networkAddress();
        return {};
    }
    const auto entry = platform::MountTable::entryForPath(mountPath);
    if (entry && entry->fsType == QLatin1String("cifs") && entry->mountPoint == QDir::cleanPath(mountPath))
        return cifsAddress(entry->source);
    return {};
}
