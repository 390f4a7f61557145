#include "agent/sync/KRTCopyErrorReporter.h"

#include "agent/copy/PMFileCopyAgent.h"
#include "agent/copy/PMItemOperations.h"
#include "agent/sync/PMDriveNameRules.h"
#include "platform/FileNameCodec.h"
#include "platform/MountTable.h"
#include "platform/PlatformPaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>

Q_LOGGING_CATEGORY(lcCopyErrors, "pellmere.sync.errors")

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("KRTCopyErrorReporter", text);
}

QString displayName(const QString &path)
{
    // Alerts are text: a name that is not valid UTF-8 is shown by its escaped bytes.
    const QString name = QFileInfo(path).fileName();
    return platform::FileNameCodec::printable(name.isEmpty() ? path : name);
}

// Free bytes available to this user on the file system of path (or of its nearest existing
// parent); nullopt when it cannot be read.
std::optional<quint64> freeBytes(const QString &path)
{
    const QString existing = PMDriveNameRules::nearestExistingPath(path);
    if (existing.isEmpty())
        return std::nullopt;
    struct statvfs info = {};
    if (statvfs(platform::FileNameCodec::encode(existing).constData(), &info) != 0)
        return std::nullopt;
    return quint64(info.f_bavail) * quint64(info.f_frsize);
}

quint64 itemSize(const QString &path)
{
    struct stat info = {};
    if (lstat(platform::FileNameCodec::encode(path).constData(), &info) != 0 || info.st_size < 0)
        return 0;
    return quint64(info.st_size);
}

bool isBelow(const QString &path, const QString &folder)
{
    if (folder == QLatin1String("/"))
        return path.startsWith(QLatin1Char('/'));
    return path == folder || path.startsWith(folder + QLatin1Char('/'));
}

// The failures a refused name shows up as: EINVAL from the kernel drivers, ENOENT from
// exfat-fuse, EILSEQ from drivers that cannot convert the name.
bool mayBeRefusedName(const QString &errorText)
{
    return errorText == KRTErrorReporter::errorText(EINVAL) || errorText == KRTErrorReporter::errorText(ENOENT)
        || errorText == KRTErrorReporter::errorText(EILSEQ);
}

const QString kIsADirectory = QStringLiteral("Is a directory");

QString notEnoughSpace()
{
    return tr("Not enough free space on disk");
}

} // namespace

void KRTCopyErrorReporter::willProcessPath(const QString &path)
{
    debugMessage(QStringLiteral("KRTCopyErrorReporter: copying \"%1\"...").arg(path));
}

std::optional<bool> KRTCopyErrorReporter::shouldProceedAfterError(const QVariantMap &errorInfo)
{
    return decide(errorInfo);
}

std::optional<bool> KRTCopyErrorReporter::shouldProceedAfterErrorCopyingItem(
    int errorNumber, const QString &source, const QString &destination)
{
    return decideAfter(
        errorNumber, { { kErrorKey, errorText(errorNumber) }, { kPathKey, source }, { kToPathKey, destination } });
}

std::optional<bool> KRTCopyErrorReporter::shouldProceedAfterErrorMovingItem(
    int errorNumber, const QString &source, const QString &destination)
{
    return decideAfter(
        errorNumber, { { kErrorKey, errorText(errorNumber) }, { kPathKey, source }, { kToPathKey, destination } });
}

std::optional<bool> KRTCopyErrorReporter::shouldProceedAfterErrorRemovingItem(int errorNumber, const QString &path)
{
    return decideAfter(errorNumber, { { kErrorKey, errorText(errorNumber) }, { kPathKey, path } });
}

std::optional<int> KRTCopyErrorReporter::agentActionRequired(PMFileCopyAgent &agent, const PMFileCopyError &error)
{
    Q_UNUSED(agent);
    const bool goOn = decideAfter(error.code,
        { { kErrorKey, errorText(error.code) }, { kPathKey, error.fromPath() }, { kToPathKey, error.toPath() } });
    return goOn ? PMFileCopyAgentDelegate::Skip : PMFileCopyAgentDelegate::Quit;
}

bool KRTCopyErrorReporter::agentUpdate(PMFileCopyAgent &agent, quint64 copiedBytes)
{
    PMErrorReporterDelegate *owner = reporterDelegate();
    if (!owner)
        return false;
    if (owner->cancelPending()) {
        agent.setCancelled(true);
        qCInfo(lcCopyErrors) << "Cancelling copy";
    }
    owner->setPartiallyCopiedData(copiedBytes);
    return true;
}

KRTCopyErrorReporter::KRTCopyErrorReporter(PMErrorReporterDelegate *delegate)
    : KRTErrorReporter(delegate)
{
    noteDriveRoot();
}

void KRTCopyErrorReporter::setDelegate(PMErrorReporterDelegate *delegate)
{
    KRTErrorReporter::setDelegate(delegate);
    noteDriveRoot();
}

std::optional<KRTCopyErrorReporter::DriveRoot> KRTCopyErrorReporter::identify(const QString &root)
{
    struct stat info = {};
    if (root.isEmpty() || stat(platform::FileNameCodec::encode(root).constData(), &info) != 0)
        return std::nullopt;
    return DriveRoot { quint64(info.st_dev), quint64(info.st_ino) };
}

void KRTCopyErrorReporter::noteDriveRoot()
{
    const PMErrorReporterDelegate *owner = reporterDelegate();
    m_driveRoot = owner ? identify(owner->deviceMountPoint()) : std::nullopt;
}

bool KRTCopyErrorReporter::destinationVolumePresent(const QString &path) const
{
    const PMErrorReporterDelegate *owner = reporterDelegate();
    if (!owner || path.isEmpty() || !m_driveRoot)
        return false;
    const QString mountPoint = QDir::cleanPath(owner->deviceMountPoint());
    if (owner->deviceMountPoint().isEmpty() || !isBelow(QDir::cleanPath(path), mountPoint))
        return false;
    // The mount table cannot tell: a drive may be any folder. An unmounted drive leaves its
    // mount point on the file system below (another device), a removed one leaves nothing.
    return identify(mountPoint) == m_driveRoot;
}

std::optional<bool> KRTCopyErrorReporter::repairLink(const QString &source, const QString &destination) const
{
    const QString target = PMItemOperations::linkText(source);
    if (target.isNull() || destination.isEmpty())
        return std::nullopt;
    const QString existing = PMItemOperations::linkText(destination);
    if (existing == target)
        return true;
    const QByteArray destinationName = platform::FileNameCodec::encode(destination);
    // Only a link is replaced: a file or folder in the way is the user's data.
    if (!existing.isNull() && unlink(destinationName.constData()) != 0)
        return false;
    if (symlink(platform::FileNameCodec::encode(target).constData(), destinationName.constData()) != 0)
        return false;
    debugMessage(QStringLiteral("KRTCopyErrorReporter: recreated link \"%1\" -> \"%2\"").arg(destination, target));
    return true;
}

QString KRTCopyErrorReporter::diagnose(
    const QString &errorText, const QString &source, const QString &destination, bool destinationPresent) const
{
    if (destination.isEmpty() || !destinationPresent)
        return errorText;
    // Both sizes in full: a drive with 5 GiB free must not look full to a 4.2 GiB file.
    const std::optional<quint64> available = freeBytes(destination);
    if (available && (*available < itemSize(source) || *available < kMinimumFreeBytes))
        return notEnoughSpace();
    if (mayBeRefusedName(errorText)) {
        const QString refused = PMDriveNameRules::refusedComponent(destination);
        if (!refused.isEmpty()) {
            const QString kind = PMDriveNameRules::kindForPathOrParent(destination);
            return tr("the name \"%1\" is not allowed on this %2 drive")
                .arg(refused, PMDriveNameRules::displayNameOfKind(kind));
        }
    }
    return errorText;
}

void KRTCopyErrorReporter::logMountedVolumes() const
{
    const QStringList roots = platform::PlatformPaths::volumeRoots();
    QStringList volumes;
    for (const platform::MountEntry &entry : platform::MountTable::read()) {
        for (const QString &root : roots) {
            if (isBelow(entry.mountPoint, root) && entry.mountPoint != root) {
                volumes.append(entry.mountPoint);
                break;
            }
        }
    }
    logMessage(QStringLiteral("path: (%1)").arg(volumes.join(QStringLiteral(", "))));
}

bool KRTCopyErrorReporter::askAfterFailure(
    bool destinationPresent, const QString &named, const QString &errorText) const
{
    // A continuous job starts again after every change, and its failed paths are tried
    // again: a question per failed file would keep interrupting a user who asked for
    // nothing. The error is already in the log and keeps the job from counting as complete;
    // the other files go on while the drive is there and has room.
    if (unattended())
        return destinationPresent && errorText != notEnoughSpace();
    if (!destinationPresent) {
        performAlert(tr("Copy Failed."), tr("There was a problem with the connection to the wireless device."), false,
            false, platform::AlertAnswer::Ok);
        return false;
    }
    const QString message
        = tr("There was a problem copying \"%1\" (%2).  Do you want to continue with the sync operation?")
              .arg(displayName(named), errorText);
    if (performAlert(tr("Copy Failed."), message, true, true, platform::AlertAnswer::Ok))
        return true;
    requestCancel();
    return false;
}

bool KRTCopyErrorReporter::decideAfter(int errorNumber, const QVariantMap &errorInfo)
{
    if (!endJobOnLostConnection(errorNumber))
        return decide(errorInfo);
    incrementErrorCount();
    const QString destination = errorInfo.value(kToPathKey).toString();
    const QString text = errorInfo.value(kErrorKey).toString();
    if (destination.isEmpty())
        logMessage(tr("Unable to copy \"%1\"- %2.").arg(errorInfo.value(kPathKey).toString(), text));
    else
        logMessage(
            tr("Unable to copy \"%1\" to \"%2\" - %3.").arg(errorInfo.value(kPathKey).toString(), destination, text));
    qCWarning(lcCopyErrors) << "the connection to the network drive is lost:" << text;
    return false;
}

bool KRTCopyErrorReporter::decide(const QVariantMap &errorInfo)
{
    const QString originalText = errorInfo.value(kErrorKey).toString();
    const QString source = errorInfo.value(kPathKey).toString();
    const QString destination = errorInfo.value(kToPathKey).toString();
    const bool hasDestination = !destination.isEmpty();

    const std::optional<bool> repaired = repairLink(source, destination);
    if (repaired && *repaired)
        return true;

    // A failed removal has no destination; the item removed lies on the drive itself.
    const bool present = destinationVolumePresent(hasDestination ? destination : source);
    logMountedVolumes();
    const QString text = diagnose(originalText, source, destination, present);

    incrementErrorCount();
    if (hasDestination) {
        if (originalText != kIsADirectory) {
            logMessage(tr("Unable to copy \"%1\" to \"%2\" - %3.").arg(source, destination, text));
        }
    } else {
        logMessage(tr("Unable to copy \"%1\"- %2.").arg(source, text));
    }
    qCWarning(lcCopyErrors) << "copy of" << source << "to" << destination << "failed:" << text;

    if (repaired)
        return errorHandling() == 0 ? askAfterFailure(present, hasDestination ? destination : source, text) : false;
    if (errorHandling() != 0)
        return errorHandling() > 0;
    return askAfterFailure(present, hasDestination ? destination : source, text);
}
