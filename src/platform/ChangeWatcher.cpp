#include "platform/ChangeWatcher.h"

#include "platform/ChangeWatcher_linux.h"

namespace platform {

ChangeWatcher::ChangeWatcher(const QString &rootPath, const ChangeWatcherOptions &options, QObject *parent)
    : QObject(parent)
    , m_rootPath(rootPath)
    , m_options(options)
{
}

ChangeWatcher::~ChangeWatcher() = default;

void ChangeWatcher::noteChangedFolder(const QString &folder)
{
    if (m_wholeTreeChanged)
        return;
    m_changedFolders.insert(folder);
    if (m_changedFolders.size() > kMaxChangedFolders) {
        // Past this, walking the tree once costs less than keeping track.
        m_wholeTreeChanged = true;
        m_changedFolders.clear();
    }
}

QStringList ChangeWatcher::takeChangedFolders()
{
    QStringList folders;
    if (m_wholeTreeChanged)
        folders.append(m_rootPath);
    else
        folders = QStringList(m_changedFolders.cbegin(), m_changedFolders.cend());
    m_wholeTreeChanged = false;
    m_changedFolders.clear();
    folders.sort();
    return folders;
}

std::unique_ptr<ChangeWatcher> ChangeWatcher::create(
    const QString &rootPath, const ChangeWatcherOptions &options, QObject *parent)
{
    return std::make_unique<InotifyChangeWatcher>(rootPath, options, parent);
}

} // namespace platform
