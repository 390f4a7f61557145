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

std::unique_ptr<ChangeWatcher> ChangeWatcher::create(
    const QString &rootPath, const ChangeWatcherOptions &options, QObject *parent)
{
    return std::make_unique<InotifyChangeWatcher>(rootPath, options, parent);
}

} // namespace platform
