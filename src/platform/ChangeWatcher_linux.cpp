#include "platform/ChangeWatcher_linux.h"

#include "platform/FileNameCodec.h"
#include "platform/InotifyEvent.h"
#include "platform/InotifyWatchTree.h"
#include "platform/TreeFingerprint.h"

#include <QDir>
#include <QFile>
#include <QLoggingCategory>

#include <sys/inotify.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

Q_LOGGING_CATEGORY(lcChanges, "pellmere.changes")

namespace platform {

namespace {

// Enough for several hundred events per read.
constexpr qsizetype kReadBufferSize = 64 * 1024;
// Reads per wake-up, so that a tree changing without pause cannot hold the event loop.
constexpr int kReadsPerWakeUp = 16;

bool isFolder(const QByteArray &path)
{
    struct stat st = {};
    return ::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

QString seconds(std::chrono::milliseconds period)
{
    return QString::number(double(period.count()) / 1000.0);
}

} // namespace

InotifyChangeWatcher::InotifyChangeWatcher(
    const QString &rootPath, const ChangeWatcherOptions &options, QObject *parent)
    : ChangeWatcher(rootPath, options, parent)
    , m_root(rootPath.isEmpty() ? QByteArray() : platform::FileNameCodec::encode(QDir::cleanPath(rootPath)))
    , m_buffer(size_t(kReadBufferSize))
{
    m_latencyTimer.setSingleShot(true);
    // A coarse timer may fire a little early, which would shorten the window changes are collected in.
    m_latencyTimer.setTimerType(Qt::PreciseTimer);
    m_latencyTimer.setInterval(options.latency);
    connect(&m_latencyTimer, &QTimer::timeout, this, [this] { Q_EMIT changed(this->rootPath()); });
    m_rescanTimer.setInterval(options.rescanPeriod);
    connect(&m_rescanTimer, &QTimer::timeout, this, &InotifyChangeWatcher::rescan);
    m_notifier.setEnabled(false);
    connect(&m_notifier, &QSocketNotifier::activated, this, &InotifyChangeWatcher::readEvents);
}

InotifyChangeWatcher::~InotifyChangeWatcher()
{
    stop();
}

bool InotifyChangeWatcher::start()
{
    if (m_mode != Mode::Stopped)
        return true;
    if (m_root.isEmpty()) {
        qCWarning(lcChanges) << "cannot watch an empty path";
        return false;
    }
    struct stat st = {};
    if (::stat(m_root.constData(), &st) != 0) {
        qCWarning(lcChanges) << "cannot watch" << rootPath() << ":" << strerror(errno);
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        qCWarning(lcChanges) << "cannot watch" << rootPath() << ": not a folder";
        return false;
    }
    return attach(true) != Attach::Failed;
}

void InotifyChangeWatcher::stop()
{
    m_latencyTimer.stop();
    m_rescanTimer.stop();
    detach();
    m_fingerprint.reset();
    m_mode = Mode::Stopped;
}

qsizetype InotifyChangeWatcher::watchedFolderCount() const
{
    return m_tree ? m_tree->watchCount() : 0;
}

InotifyChangeWatcher::Attach InotifyChangeWatcher::attach(bool logFailure)
{
    auto tree = std::make_unique<InotifyWatchTree>(m_root);
    if (!tree->open()) {
        const int error = tree->error();
        if (error == EMFILE || error == ENFILE || error == ENOMEM) {
            fallBackToPolling(QStringLiteral("no inotify instance left (fs.inotify.max_user_instances): %1")
                                  .arg(QString::fromLocal8Bit(strerror(error))));
            return Attach::Polling;
        }
        if (logFailure)
            qCWarning(lcChanges) << "cannot watch" << rootPath() << ":" << strerror(error);
        return Attach::Failed;
    }
    switch (tree->addRoot()) {
    case InotifyWatchTree::Result::LimitReached:
        fallBackToPolling(QStringLiteral("the limit of inotify watches (fs.inotify.max_user_watches) is reached"));
        return Attach::Polling;
    case InotifyWatchTree::Result::Failed:
        if (logFailure)
            qCWarning(lcChanges) << "cannot watch" << rootPath() << ":" << strerror(tree->error());
        return Attach::Failed;
    case InotifyWatchTree::Result::Added:
        break;
    }
    m_tree = std::move(tree);
    m_notifier.setSocket(m_tree->descriptor());
    m_notifier.setEnabled(true);
    m_rescanTimer.stop();
    m_fingerprint.reset();
    m_mode = Mode::Watching;
    qCDebug(lcChanges) << "watching" << m_tree->watchCount() << "folders of" << rootPath();
    return Attach::Watching;
}

void InotifyChangeWatcher::detach()
{
    // The notifier must let go of the descriptor before it is closed (and its number reused).
    m_notifier.setEnabled(false);
    m_tree.reset();
}

void InotifyChangeWatcher::readEvents()
{
    for (int reads = 0; m_tree && reads < kReadsPerWakeUp; ++reads) {
        const qsizetype got = m_tree->read(m_buffer.data(), qsizetype(m_buffer.size()));
        if (got <= 0)
            break;
        handleEvents(InotifyEvent::decode(m_buffer.data(), got));
    }
}

void InotifyChangeWatcher::handleEvents(const QList<InotifyEvent> &events)
{
    bool changed = false;
    bool overflow = false;
    bool rootGone = false;
    bool limitReached = false;
    for (const InotifyEvent &event : events) {
        if (event.mask & IN_Q_OVERFLOW) {
            overflow = true;
            continue;
        }
        if (event.mask & IN_IGNORED) {
            // The root's watch ends when the root is deleted or its file system unmounted.
            rootGone = event.watch == m_tree->rootWatch();
            m_tree->forgetWatch(event.watch);
            if (rootGone)
                break;
            continue;
        }
        const QByteArray folder = m_tree->pathForWatch(event.watch);
        if (folder.isEmpty())
            continue; // a watch released already: its folder left the tree
        changed = true;
        noteChangedFolder(event.watch == m_tree->rootWatch() ? rootPath() : platform::FileNameCodec::decode(folder));
        if (event.watch == m_tree->rootWatch() && (event.mask & (IN_DELETE_SELF | IN_MOVE_SELF))) {
            // A root moved elsewhere would keep reporting from its new place: let it go.
            rootGone = true;
            break;
        }
        if (!(event.mask & IN_ISDIR) || event.name.isEmpty())
            continue;
        const QByteArray child = InotifyWatchTree::childPath(folder, event.name);
        if (event.mask & IN_MOVED_FROM) {
            m_tree->removeFolder(child);
        } else if (event.mask & (IN_CREATE | IN_MOVED_TO)) {
            // Files may have been put in the new folder before its watch was set; the event
            // that announced the folder already counts as the change that covers them.
            if (m_tree->addFolder(child) == InotifyWatchTree::Result::LimitReached) {
                limitReached = true;
                break;
            }
        }
    }

    if (!limitReached && !rootGone && overflow) {
        changed = true;
        qCDebug(lcChanges) << "change notifications were lost for" << rootPath() << "- watching the tree anew";
        switch (m_tree->resync()) {
        case InotifyWatchTree::Result::Added:
            break;
        case InotifyWatchTree::Result::LimitReached:
            limitReached = true;
            break;
        case InotifyWatchTree::Result::Failed:
            rootGone = true;
            break;
        }
    }
    if (limitReached)
        fallBackToPolling(QStringLiteral("the limit of inotify watches (fs.inotify.max_user_watches) is reached"));
    else if (rootGone)
        waitForRoot();
    if (overflow || limitReached || rootGone)
        noteWholeTreeChanged();
    if (changed || limitReached || rootGone)
        noteChange();
}

void InotifyChangeWatcher::fallBackToPolling(const QString &reason)
{
    detach();
    if (!m_fallbackLogged) {
        m_fallbackLogged = true;
        qCWarning(lcChanges).noquote() << reason << "- checking" << rootPath() << "for changes every"
                                       << seconds(options().rescanPeriod) << "s instead";
    }
    m_fingerprint = TreeFingerprint::compute(m_root);
    m_mode = Mode::Polling;
    m_rescanTimer.start();
}

void InotifyChangeWatcher::waitForRoot()
{
    detach();
    qCInfo(lcChanges).noquote() << rootPath() << "is gone; looking for it every" << seconds(options().rescanPeriod)
                                << "s";
    m_mode = Mode::WaitingForRoot;
    m_rescanTimer.start();
}

void InotifyChangeWatcher::rescan()
{
    if (m_mode == Mode::Polling) {
        // Blocking: one stat per entry of the tree, on this thread.
        const std::optional<quint64> fingerprint = TreeFingerprint::compute(m_root);
        if (fingerprint != m_fingerprint) {
            m_fingerprint = fingerprint;
            noteWholeTreeChanged();
            noteChange();
        }
    } else if (m_mode == Mode::WaitingForRoot) {
        if (isFolder(m_root) && attach(false) != Attach::Failed) {
            qCInfo(lcChanges) << rootPath() << "is back";
            noteWholeTreeChanged();
            noteChange();
        }
    }
}

void InotifyChangeWatcher::noteChange()
{
    if (!m_latencyTimer.isActive())
        m_latencyTimer.start();
}

} // namespace platform
