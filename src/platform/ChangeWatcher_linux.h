// The change watcher on Linux: an inotify watch on every folder of the tree, new folders
// watched as they appear (and scanned, since they may have been filled before the watch was
// set), folders that leave forgotten. A lost-events overflow counts as a change and rebuilds
// the watch set. When the kernel's watch limit is reached the tree is rescanned periodically
// instead, so that no change goes unreported.
//
// Main thread only (a QSocketNotifier on the inotify descriptor); see ChangeWatcher.
#pragma once

#include "platform/ChangeWatcher.h"

#include <QSocketNotifier>
#include <QTimer>

#include <memory>
#include <optional>
#include <vector>

namespace platform {

class InotifyWatchTree;
struct InotifyEvent;

class InotifyChangeWatcher final : public ChangeWatcher {
    Q_OBJECT

public:
    InotifyChangeWatcher(const QString &rootPath, const ChangeWatcherOptions &options, QObject *parent = nullptr);
    ~InotifyChangeWatcher() override;

    bool start() override;
    void stop() override;
    Mode mode() const override { return m_mode; }
    qsizetype watchedFolderCount() const override;

private:
    enum class Attach { Watching, Polling, Failed };

    Attach attach(bool logFailure);
    void detach();
    void readEvents();
    void handleEvents(const QList<InotifyEvent> &events);
    void fallBackToPolling(const QString &reason);
    void waitForRoot();
    void rescan();
    void noteChange();

    QByteArray m_root;
    Mode m_mode = Mode::Stopped;
    std::unique_ptr<InotifyWatchTree> m_tree;
    QSocketNotifier m_notifier { QSocketNotifier::Read };
    QTimer m_latencyTimer;
    QTimer m_rescanTimer;
    std::optional<quint64> m_fingerprint;
    bool m_fallbackLogged = false;
    std::vector<char> m_buffer;
};

} // namespace platform
