#include "netstorage/PMShareMountWatcher.h"

#include "netstorage/PMGvfsShareFolder.h"
#include "platform/MountTable.h"

#include <QDir>

PMShareMountWatcher::PMShareMountWatcher(const QString &gvfsFolder, QObject *parent)
    : QObject(parent)
    , m_gvfsFolder(QDir::cleanPath(gvfsFolder))
{
    m_pool.setMaxThreadCount(1);
    connect(&m_timer, &QTimer::timeout, this, &PMShareMountWatcher::check);
}

PMShareMountWatcher::~PMShareMountWatcher()
{
    m_timer.stop();
    // A result posted after this is dropped with the object.
    m_pool.waitForDone();
}

void PMShareMountWatcher::start()
{
    if (m_timer.isActive())
        return;
    m_timer.start(kCheckInterval);
    check();
}

void PMShareMountWatcher::stop()
{
    m_timer.stop();
}

bool PMShareMountWatcher::isSmbMount(const platform::MountEntry &entry)
{
    return entry.fsType == QLatin1String("cifs") || entry.fsType == QLatin1String("smb3")
        || entry.fsType == QLatin1String("smbfs");
}

QStringList PMShareMountWatcher::mountedVolumes() const
{
    QStringList paths;
    for (const platform::MountEntry &entry : platform::MountTable::read())
        paths.append(entry.mountPoint);
    const QStringList shares = gvfsShareFolders(m_gvfsFolder);
    {
        std::lock_guard lock(m_foundMutex);
        m_found.unite(QSet<QString>(shares.cbegin(), shares.cend()));
    }
    return paths + shares;
}

void PMShareMountWatcher::mountAppeared(const platform::MountEntry &entry)
{
    if (isSmbMount(entry))
        Q_EMIT shareMounted(entry.mountPoint);
}

void PMShareMountWatcher::mountDisappeared(const platform::MountEntry &entry)
{
    if (isSmbMount(entry))
        Q_EMIT shareUnmounted(entry.mountPoint);
}

void PMShareMountWatcher::check()
{
    // A check still waiting on gvfsd-fuse is enough.
    if (m_checking)
        return;
    m_checking = true;
    // Only shares found before this reading starts: one found while it runs may be missing
    // from it without being gone, and waits for the next check.
    QSet<QString> foundBefore;
    {
        std::lock_guard lock(m_foundMutex);
        foundBefore.swap(m_found);
    }
    m_pool.start([this, folder = m_gvfsFolder, foundBefore] {
        const QStringList shown = gvfsShareFolders(folder);
        QMetaObject::invokeMethod(
            this, [this, shown, foundBefore] { gvfsSharesShown(shown, foundBefore); }, Qt::QueuedConnection);
    });
}

void PMShareMountWatcher::gvfsSharesShown(const QStringList &paths, const QSet<QString> &foundBefore)
{
    m_checking = false;
    const QSet<QString> shown(paths.cbegin(), paths.cend());
    const QSet<QString> gone = (m_gvfsShares | foundBefore) - shown;
    const QSet<QString> added = shown - m_gvfsShares;
    m_gvfsShares = shown;
    for (const QString &path : gone)
        Q_EMIT shareUnmounted(path);
    for (const QString &path : added)
        Q_EMIT shareMounted(path);
}

QStringList PMShareMountWatcher::gvfsShareFolders(const QString &gvfsFolder)
{
    const QDir folder(gvfsFolder);
    QStringList paths;
    for (const QString &name : folder.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden)) {
        if (PMGvfsShareFolder::parse(name))
            paths.append(folder.filePath(name));
    }
    return paths;
}
