#include "platform/VolumeMonitor.h"

#include "platform/MountTable.h"
#include "platform/MountTableDiff.h"

#include <QLoggingCategory>
#include <QSocketNotifier>

#include <libmount/libmount.h>

Q_LOGGING_CATEGORY(lcVolumes, "pellmere.volumes")

namespace platform {

namespace {

struct MonitorDeleter {
    void operator()(libmnt_monitor *monitor) const { mnt_unref_monitor(monitor); }
};

} // namespace

struct VolumeMonitor::Private {
    std::unique_ptr<libmnt_monitor, MonitorDeleter> monitor;
    std::unique_ptr<QSocketNotifier> notifier;
    QList<MountEntry> mounts;
};

VolumeMonitor::VolumeMonitor(QObject *parent)
    : QObject(parent)
    , d(std::make_unique<Private>())
{
}

VolumeMonitor::~VolumeMonitor() = default;

bool VolumeMonitor::start()
{
    if (isRunning())
        return true;
    std::unique_ptr<libmnt_monitor, MonitorDeleter> monitor(mnt_new_monitor());
    if (!monitor) {
        qCWarning(lcVolumes) << "cannot create a mount-table monitor";
        return false;
    }
    if (const int rc = mnt_monitor_enable_kernel(monitor.get(), 1); rc < 0) {
        qCWarning(lcVolumes) << "cannot watch the kernel mount table:" << strerror(-rc);
        return false;
    }
    const int fd = mnt_monitor_get_fd(monitor.get());
    if (fd < 0) {
        qCWarning(lcVolumes) << "mount-table monitor has no descriptor:" << strerror(-fd);
        return false;
    }
    d->monitor = std::move(monitor);
    d->mounts = MountTable::read();
    d->notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    connect(d->notifier.get(), &QSocketNotifier::activated, this, [this] {
        // Drain every pending change notice, then read the table once.
        const char *filename = nullptr;
        int type = 0;
        while (d->monitor && mnt_monitor_next_change(d->monitor.get(), &filename, &type) == 0) { }
        refresh();
    });
    return true;
}

void VolumeMonitor::stop()
{
    d->notifier.reset();
    d->monitor.reset();
}

bool VolumeMonitor::isRunning() const
{
    return d->monitor != nullptr;
}

QList<MountEntry> VolumeMonitor::currentMounts() const
{
    return d->mounts;
}

void VolumeMonitor::refresh()
{
    QList<MountEntry> now = MountTable::read();
    const MountTableChanges changes = MountTableDiff::diff(d->mounts, now);
    d->mounts = std::move(now);
    for (const MountEntry &entry : changes.disappeared)
        Q_EMIT volumeDisappeared(entry);
    for (const auto &[before, after] : changes.pathChanged)
        Q_EMIT volumePathChanged(before, after);
    for (const auto &[before, after] : changes.optionsChanged)
        Q_EMIT volumeOptionsChanged(before, after);
    for (const MountEntry &entry : changes.appeared)
        Q_EMIT volumeAppeared(entry);
}

} // namespace platform
