// Finds the mounted volumes the agent may know as drives: every mount whose mount point is
// a volume folder directly below one of the volume roots (/media/<user>/X, /run/media/<user>/X,
// /media/X, /mnt/X), and that is an external or a network volume as far as the system can
// tell (an unknown answer keeps it).
//
//   auto describer = platform::VolumeDescriber::create();
//   for (const PMCtlDrive &drive : PMCtlDriveLister(*describer).drives()) ...
//
// Reads the mount table at each call; any thread (the describer is reentrant).
#pragma once

#include "platform/VolumeDescription.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace pmctl {

struct PMCtlDrive {
    QString mountPoint;
    QString name; // the file system's label, else the mount point's last component
    QString kind; // "ext4", "vfat", "cifs", ...
    bool network = false;
};

class PMCtlDriveLister {
public:
    explicit PMCtlDriveLister(const platform::VolumeDescriber &describer);
    // Roots other than the system's, for tests.
    PMCtlDriveLister(const platform::VolumeDescriber &describer, QStringList volumeRoots);

    // In the mount table's order; a mount point mounted over several times counts once.
    QList<PMCtlDrive> drives() const;

private:
    bool isVolumeFolder(const QString &mountPoint) const;

    const platform::VolumeDescriber &m_describer;
    QStringList m_roots;
};

} // namespace pmctl
