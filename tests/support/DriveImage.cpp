#include "support/DriveImage.h"

#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/types.h>
#include <unistd.h>

namespace testsupport {

namespace {

QString findProgram(const QString &name)
{
    const QString inSbin = QStandardPaths::findExecutable(name,
        { QStringLiteral("/usr/sbin"), QStringLiteral("/sbin"), QStringLiteral("/usr/bin"), QStringLiteral("/bin") });
    return inSbin.isEmpty() ? QStandardPaths::findExecutable(name) : inSbin;
}

QString formatter(DriveImage::FileSystem fileSystem)
{
    switch (fileSystem) {
    case DriveImage::FileSystem::Ext4:
        return QStringLiteral("mkfs.ext4");
    case DriveImage::FileSystem::ExFat:
        return QStringLiteral("mkfs.exfat");
    case DriveImage::FileSystem::Ntfs:
        return QStringLiteral("mkntfs");
    case DriveImage::FileSystem::Fat32:
        return QStringLiteral("mkfs.vfat");
    }
    return QString();
}

QString driver(DriveImage::FileSystem fileSystem)
{
    switch (fileSystem) {
    case DriveImage::FileSystem::Ext4:
        return QStringLiteral("mount");
    case DriveImage::FileSystem::ExFat:
        return QStringLiteral("mount.exfat-fuse");
    case DriveImage::FileSystem::Ntfs:
        return QStringLiteral("ntfs-3g");
    case DriveImage::FileSystem::Fat32:
        return QStringLiteral("fusefat");
    }
    return QString();
}

// guestmount boots a small appliance with the distribution's kernel, whose vfat driver is
// the real one; this kernel has none of its own.
bool writableFatAvailable()
{
    return !findProgram(QStringLiteral("guestmount")).isEmpty()
        && !findProgram(QStringLiteral("guestunmount")).isEmpty()
        && !QDir(QStringLiteral("/boot")).entryList({ QStringLiteral("vmlinuz-*") }, QDir::Files).isEmpty();
}

// The machine can make this kind of drive, yet making or mounting one failed: that is a fault
// of the machine or of the test, never a reason to skip. The current test fails (a later skip
// does not hide it) and the caller still gets the reason.
void failAfterCapabilityCheck(const QString &what, const QString &reason)
{
    ADD_FAILURE() << what.toStdString()
                  << " failed although this machine can make such drives: " << reason.toStdString();
}

bool processExists(qint64 pid)
{
    return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
}

} // namespace

bool DriveImage::run(const QString &program, const QStringList &arguments, QString *output, int timeoutMs)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("MTOOLS_SKIP_CHECK"), QStringLiteral("1"));
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    // libguestfs (FAT through the real kernel driver): no KVM here, and no libvirt.
    environment.insert(QStringLiteral("LIBGUESTFS_BACKEND"), QStringLiteral("direct"));
    environment.insert(QStringLiteral("LIBGUESTFS_BACKEND_SETTINGS"), QStringLiteral("force_tcg"));
    process.setProcessEnvironment(environment);
    const QString path = findProgram(program);
    process.start(path.isEmpty() ? program : path, arguments);
    if (!process.waitForStarted()) {
        if (output)
            *output = program + QStringLiteral(": cannot start");
        return false;
    }
    const bool finished = process.waitForFinished(timeoutMs);
    if (!finished) {
        process.kill();
        process.waitForFinished();
    }
    if (output)
        *output = QString::fromLocal8Bit(process.readAll());
    return finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

QString DriveImage::unavailableReason(FileSystem fileSystem, bool readOnly)
{
    if (findProgram(formatter(fileSystem)).isEmpty())
        return formatter(fileSystem) + QStringLiteral(" is not installed");
    if (fileSystem == FileSystem::Fat32) {
        if (findProgram(QStringLiteral("mcopy")).isEmpty())
            return QStringLiteral("mtools are not installed");
        if (!readOnly && !writableFatAvailable())
            return QStringLiteral("writing to FAT needs the kernel vfat driver inside libguestfs (packages "
                                  "libguestfs-tools and linux-image-cloud-amd64); fusefat corrupts moved folders");
    }
    if (::geteuid() != 0)
        return QStringLiteral("mounting drive images needs root (loop devices, mount)");
    if (fileSystem != FileSystem::Ext4) {
        if (::access("/dev/fuse", R_OK | W_OK) != 0)
            return QStringLiteral("/dev/fuse is not available");
        if (findProgram(driver(fileSystem)).isEmpty())
            return driver(fileSystem) + QStringLiteral(" is not installed");
    }
    if (fileSystem != FileSystem::Fat32 && ::access("/dev/loop-control", R_OK | W_OK) != 0)
        return QStringLiteral("loop devices are not available");
    return QString();
}

DriveImage::DriveImage(FileSystem fileSystem)
    : m_fileSystem(fileSystem)
    , m_dir(QDir::tempPath() + QStringLiteral("/pellmere-drive-XXXXXX"))
{
    m_imagePath = m_dir.path() + QStringLiteral("/drive.img");
    m_mountPoint = m_dir.path() + QStringLiteral("/mnt");
}

std::unique_ptr<DriveImage> DriveImage::create(FileSystem fileSystem, qint64 sizeMiB, QString *whyNot)
{
    const QString program = formatter(fileSystem);
    if (findProgram(program).isEmpty()) {
        *whyNot = program + QStringLiteral(" is not installed");
        return nullptr;
    }
    std::unique_ptr<DriveImage> drive(new DriveImage(fileSystem));
    if (!drive->m_dir.isValid() || !QDir().mkpath(drive->m_mountPoint)) {
        *whyNot = QStringLiteral("cannot make a temporary folder for the drive");
        failAfterCapabilityCheck(QStringLiteral("making a drive image"), *whyNot);
        return nullptr;
    }
    QFile image(drive->m_imagePath);
    if (!image.open(QIODevice::WriteOnly) || !image.resize(sizeMiB * 1024 * 1024)) {
        *whyNot = QStringLiteral("cannot make the image file");
        failAfterCapabilityCheck(QStringLiteral("making a drive image"), *whyNot);
        return nullptr;
    }
    image.close();
    QStringList arguments;
    switch (fileSystem) {
    case FileSystem::Ext4:
        arguments = { QStringLiteral("-q"), QStringLiteral("-F"), QStringLiteral("-m"), QStringLiteral("0") };
        break;
    case FileSystem::ExFat:
        break;
    case FileSystem::Ntfs:
        arguments = { QStringLiteral("-F"), QStringLiteral("-Q"), QStringLiteral("-q") };
        break;
    case FileSystem::Fat32:
        arguments = { QStringLiteral("-F"), QStringLiteral("32") };
        break;
    }
    arguments << drive->m_imagePath;
    QString output;
    if (!run(program, arguments, &output)) {
        *whyNot = program + QStringLiteral(" failed: ") + output;
        failAfterCapabilityCheck(QStringLiteral("formatting a drive image"), *whyNot);
        return nullptr;
    }
    return drive;
}

DriveImage::~DriveImage()
{
    unmount();
}

bool DriveImage::attachLoop(QString *whyNot)
{
    QString output;
    if (!run(QStringLiteral("losetup"), { QStringLiteral("-f"), QStringLiteral("--show"), m_imagePath }, &output)) {
        *whyNot = QStringLiteral("losetup failed: ") + output;
        return false;
    }
    m_loopDevice = output.trimmed();
    return m_loopDevice.startsWith(QLatin1String("/dev/loop"));
}

void DriveImage::detachLoop()
{
    if (m_loopDevice.isEmpty())
        return;
    // The kernel may hold the device a moment after the unmount: retry, never guess another.
    // Detaching a device still in use only marks it; it is gone once its backing file is.
    const QString backingFile = QStringLiteral("/sys/block/") + m_loopDevice.section(QLatin1Char('/'), -1)
        + QStringLiteral("/loop/backing_file");
    const auto detached = [&] {
        return !QFile::exists(backingFile) || run(QStringLiteral("losetup"), { QStringLiteral("-d"), m_loopDevice });
    };
    if (waitFor(detached, std::chrono::seconds(10))
        && waitFor([&] { return !QFile::exists(backingFile); }, std::chrono::seconds(10)))
        m_loopDevice.clear();
}

qint64 DriveImage::findDriverProcess() const
{
    // The FUSE driver detaches; find it by the private mount point in its arguments.
    const QByteArray wanted = QFile::encodeName(m_mountPoint);
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool isNumber = false;
        const qint64 pid = entry.toLongLong(&isNumber);
        if (!isNumber)
            continue;
        QFile cmdline(QStringLiteral("/proc/") + entry + QStringLiteral("/cmdline"));
        if (!cmdline.open(QIODevice::ReadOnly))
            continue;
        if (cmdline.readAll().split('\0').contains(wanted))
            return pid;
    }
    return 0;
}

bool DriveImage::mount(bool readOnly, QString *whyNot)
{
    if (m_mounted)
        return true;
    const QString reason = unavailableReason(m_fileSystem, readOnly);
    if (!reason.isEmpty()) {
        *whyNot = reason;
        return false;
    }
    QString output;
    bool mounted = false;
    switch (m_fileSystem) {
    case FileSystem::Ext4:
        if (!attachLoop(whyNot)) {
            failAfterCapabilityCheck(QStringLiteral("attaching a loop device"), *whyNot);
            return false;
        }
        mounted = run(QStringLiteral("mount"),
            { QStringLiteral("-t"), QStringLiteral("ext4"), QStringLiteral("-o"),
                readOnly ? QStringLiteral("ro") : QStringLiteral("rw"), m_loopDevice, m_mountPoint },
            &output);
        break;
    case FileSystem::ExFat:
    case FileSystem::Ntfs: {
        if (!attachLoop(whyNot)) {
            failAfterCapabilityCheck(QStringLiteral("attaching a loop device"), *whyNot);
            return false;
        }
        QStringList arguments;
        if (readOnly)
            arguments << QStringLiteral("-o") << QStringLiteral("ro");
        arguments << m_loopDevice << m_mountPoint;
        mounted = run(driver(m_fileSystem), arguments, &output);
        break;
    }
    case FileSystem::Fat32:
        if (!readOnly) {
            // About 10 s (much more on a busy machine): the appliance boots under emulation.
            m_usesGuestfs = true;
            mounted = run(QStringLiteral("guestmount"),
                { QStringLiteral("--format=raw"), QStringLiteral("-a"), m_imagePath, QStringLiteral("-m"),
                    QStringLiteral("/dev/sda"), QStringLiteral("--rw"), QStringLiteral("-o"),
                    QStringLiteral("fsname=") + m_imagePath, QStringLiteral("-o"), QStringLiteral("subtype=vfat"),
                    m_mountPoint },
                &output, 600000);
            break;
        }
        mounted = run(QStringLiteral("fusefat"),
            { QStringLiteral("-o"), QStringLiteral("ro"), m_imagePath, m_mountPoint }, &output);
        break;
    }
    if (m_fileSystem != FileSystem::Ext4)
        m_driverPid = findDriverProcess();
    m_mounted = mounted;
    if (!mounted) {
        *whyNot = (m_usesGuestfs ? QStringLiteral("guestmount") : driver(m_fileSystem)) + QStringLiteral(" failed: ")
            + output;
        failAfterCapabilityCheck(QStringLiteral("mounting a drive image"), *whyNot);
        unmount();
        return false;
    }
    return true;
}

bool DriveImage::remountReadOnly(QString *whyNot)
{
    QString output;
    if (!m_mounted || m_fileSystem != FileSystem::Ext4
        || !run(
            QStringLiteral("mount"), { QStringLiteral("-o"), QStringLiteral("remount,ro"), m_mountPoint }, &output)) {
        *whyNot = QStringLiteral("remount read-only failed: ") + output;
        return false;
    }
    return true;
}

bool DriveImage::unmount()
{
    if (m_mounted) {
        ::sync();
        // A test's open descriptor may keep the drive busy for a moment; give up lazily.
        const QString unmounter = m_usesGuestfs ? QStringLiteral("guestunmount") : QStringLiteral("umount");
        if (!waitFor([&] { return run(unmounter, { m_mountPoint }); }, std::chrono::seconds(10)))
            run(QStringLiteral("umount"), { QStringLiteral("-l"), m_mountPoint });
        m_mounted = false;
    }
    if (m_driverPid > 0) {
        // umount of a FUSE drive returns before its driver has written everything.
        if (!waitFor([this] { return !processExists(m_driverPid); }, std::chrono::seconds(m_usesGuestfs ? 120 : 30)))
            ::kill(pid_t(m_driverPid), SIGTERM);
        m_driverPid = 0;
    }
    detachLoop();
    return !m_mounted && m_loopDevice.isEmpty();
}

bool DriveImage::fatMakeFolder(const QString &fatPath)
{
    return m_fileSystem == FileSystem::Fat32 && !m_mounted
        && run(QStringLiteral("mmd"), { QStringLiteral("-i"), m_imagePath, QStringLiteral("::") + fatPath });
}

bool DriveImage::fatCopyIn(const QString &localPath, const QString &fatPath)
{
    return m_fileSystem == FileSystem::Fat32 && !m_mounted
        && run(QStringLiteral("mcopy"),
            { QStringLiteral("-i"), m_imagePath, QStringLiteral("-s"), QStringLiteral("-m"), localPath,
                QStringLiteral("::") + fatPath });
}

QStringList DriveImage::fatList(const QString &fatPath)
{
    QString output;
    if (m_fileSystem != FileSystem::Fat32 || m_mounted
        || !run(QStringLiteral("mdir"),
            { QStringLiteral("-i"), m_imagePath, QStringLiteral("-b"), QStringLiteral("::") + fatPath }, &output))
        return {};
    QStringList names;
    for (const QString &line : output.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        names << line.section(QLatin1Char('/'), -1);
    return names;
}

} // namespace testsupport
