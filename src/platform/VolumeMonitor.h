// Tells when volumes are mounted, unmounted or moved, by watching the kernel's mount table.
//
//   platform::VolumeMonitor monitor;
//   connect(&monitor, &VolumeMonitor::volumeAppeared, this, &App::diskAppeared);
//   if (!monitor.start()) ... // logged; the agent then sees no drives come and go
//
// Signals are emitted on the thread the monitor lives on (the main thread), from its event
// loop; the monitor never blocks. Each change of the table is diffed against the previous
// reading, so a burst of changes yields each volume's events once.
#pragma once

#include "platform/MountInfoParser.h"

#include <QObject>

#include <memory>

namespace platform {

class VolumeMonitor : public QObject {
    Q_OBJECT

public:
    explicit VolumeMonitor(QObject *parent = nullptr);
    ~VolumeMonitor() override;

    // Starts watching; answers false (and logs why) when the mount table cannot be watched.
    bool start();
    void stop();
    bool isRunning() const;

    // The last reading of the mount table.
    QList<MountEntry> currentMounts() const;

    // Reads the table now and emits what changed since the last reading. Called by the
    // watcher; public so that a caller that just mounted something can ask at once.
    void refresh();

Q_SIGNALS:
    void volumeAppeared(const platform::MountEntry &entry);
    void volumeDisappeared(const platform::MountEntry &entry);
    void volumePathChanged(const platform::MountEntry &before, const platform::MountEntry &after);
    // Remounted in place with other options (read-only, read-write, ...).
    void volumeOptionsChanged(const platform::MountEntry &before, const platform::MountEntry &after);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace platform
