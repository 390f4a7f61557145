// Real drives for tests: a formatted image file, mounted at a private mount point and always
// unmounted, its driver stopped and its loop device detached when the object goes away.
//
//   QString whyNot;
//   auto drive = testsupport::DriveImage::create(testsupport::DriveImage::FileSystem::Ext4, 64, &whyNot);
//   if (!drive || !drive->mount(false, &whyNot))
//       GTEST_SKIP() << whyNot;
//   copyOnto(drive->mountPoint());
//
// Ext4 uses the kernel driver on a loop device; exFAT (exfat-fuse) and NTFS (ntfs-3g) use
// their FUSE drivers on a loop device; FAT32 images are built and read with mtools, mounted
// read-only through fusefat (fast), and read-write through the real kernel vfat driver in a
// libguestfs appliance when libguestfs-tools and a distribution kernel are installed (slow:
// keep it to one mount per test program; fusefat is never used for writing because moving
// a folder on it corrupts the volume). Needs root (loop devices, mount) and /dev/fuse for
// the FUSE kinds; create() and mount() answer why not otherwise, so tests can skip. When the
// machine has what a kind needs (unavailableReason() is empty) but making or mounting the drive
// still fails, the current test fails as well: a skip would hide a broken machine or test.
//
// Every object has its own image and mount point, so tests may run in parallel. Use from
// one thread.
#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

namespace testsupport {

class DriveImage {
public:
    enum class FileSystem { Ext4, ExFat, Ntfs, Fat32 };

    // A fresh image of sizeMiB formatted with fileSystem (ext4 without reserved blocks, so
    // a small one really fills up), not yet mounted; nullptr with the reason otherwise.
    static std::unique_ptr<DriveImage> create(FileSystem fileSystem, qint64 sizeMiB, QString *whyNot);
    // Why drives of this kind cannot be made here, or an empty string when they can.
    static QString unavailableReason(FileSystem fileSystem, bool readOnly = false);

    ~DriveImage();
    DriveImage(const DriveImage &) = delete;
    DriveImage &operator=(const DriveImage &) = delete;

    // Mounts the image at mountPoint(); see above for how each kind is mounted.
    bool mount(bool readOnly, QString *whyNot);
    // Remounts a mounted ext4 image read-only (fill it first, then freeze it).
    bool remountReadOnly(QString *whyNot);
    // Unmounts, waits for a FUSE driver to exit and detaches the loop device; true when
    // nothing of this drive is left mounted or attached.
    bool unmount();

    FileSystem fileSystem() const { return m_fileSystem; }
    QString imagePath() const { return m_imagePath; }
    QString mountPoint() const { return m_mountPoint; }
    // "/dev/loopN" while attached, else empty.
    QString loopDevice() const { return m_loopDevice; }
    bool isMounted() const { return m_mounted; }

    // FAT32 images, while unmounted: make a folder, copy a local file into it, list a folder
    // (mtools, which reads and writes the image without any kernel driver).
    bool fatMakeFolder(const QString &fatPath);
    bool fatCopyIn(const QString &localPath, const QString &fatPath);
    QStringList fatList(const QString &fatPath);

    // Runs a program with an argument vector; answers whether it exited with 0. Output of
    // both streams goes to *output when given.
    static bool run(
        const QString &program, const QStringList &arguments, QString *output = nullptr, int timeoutMs = 120000);

private:
    DriveImage(FileSystem fileSystem);
    bool attachLoop(QString *whyNot);
    void detachLoop();
    qint64 findDriverProcess() const;

    FileSystem m_fileSystem;
    QTemporaryDir m_dir;
    QString m_imagePath;
    QString m_mountPoint;
    QString m_loopDevice;
    qint64 m_driverPid = 0;
    bool m_mounted = false;
    bool m_usesGuestfs = false;
};

} // namespace testsupport
