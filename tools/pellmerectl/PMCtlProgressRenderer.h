// Turns the agent's progress records into text for `pellmerectl watch`: one line per drive,
// either a bar for a terminal or a plain line for a log or pipe.
//
//   PMCtlProgressRenderer renderer;
//   const QString drive = renderer.update(record);          // which drive the record is about
//   renderer.barLine(drive, 80);  // "/media/alice/Backup  Syncing  [#####.....]  50%  1.0 MiB of 2.0 MiB"
//   renderer.plainLine(drive);    // "/media/alice/Backup: Syncing, copied 1.0 MiB of 2.0 MiB (50%)"
//
// A record names its drive by "activePath" only while the drive's queue is busy; the record
// that ends a job may come without it and is then counted to the drive last seen.
//
// Not thread-safe; use from one thread.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantMap>

namespace pmctl {

class PMCtlProgressRenderer {
public:
    // Stores the record under its drive and answers that drive ("(unknown drive)" when no
    // record named one yet).
    QString update(const QVariantMap &record);

    QStringList drives() const { return m_order; }
    QVariantMap record(const QString &drive) const;

    // At most width - 1 characters; drive and activity padded to the widest of all drives.
    QString barLine(const QString &drive, int width) const;
    QString plainLine(const QString &drive) const;

private:
    QStringList m_order;
    QList<QVariantMap> m_records;
    QString m_lastDrive;
};

} // namespace pmctl
