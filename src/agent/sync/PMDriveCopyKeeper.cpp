#include "agent/sync/PMDriveCopyKeeper.h"

#include "agent/copy/PMUniqueFd.h"
#include "platform/FileNameCodec.h"

#include <QFile>
#include <QLoggingCategory>
#include <QStringList>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

Q_LOGGING_CATEGORY(lcKeeper, "pellmere.sync")

namespace {

constexpr int kMaxAttempts = 1000;
constexpr qsizetype kMaxNameBytes = 255;

// The folder holding relative (its last component excluded), opened below root without
// following any link; invalid when a step is missing, not a folder, or a link.
PMUniqueFd openParentBeneath(const QString &root, const QStringList &components)
{
    PMUniqueFd folder(::open(platform::FileNameCodec::encode(root).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    for (qsizetype i = 0; folder.isValid() && i + 1 < components.size(); ++i) {
        const QString &step = components.at(i);
        if (step.isEmpty() || step == QLatin1String(".") || step == QLatin1String(".."))
            return PMUniqueFd();
        folder = PMUniqueFd(::openat(folder.get(), platform::FileNameCodec::encode(step).constData(),
            O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    }
    return folder;
}

// Renames within one folder without replacing what is there; EEXIST when the name is taken.
int renameWithoutReplacing(int folder, const QByteArray &from, const QByteArray &to)
{
    int result = renameat2(folder, from.constData(), folder, to.constData(), RENAME_NOREPLACE);
    if (result != 0 && (errno == EINVAL || errno == ENOSYS)) {
        // File systems without the no-replace rename (FUSE drivers): look, then rename.
        struct stat existing = {};
        if (fstatat(folder, to.constData(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
            errno = EEXIST;
            return -1;
        }
        result = renameat(folder, from.constData(), folder, to.constData());
    }
    return result;
}

} // namespace

QString PMDriveCopyKeeper::keptName(const QString &name, const QDateTime &modified, int attempt)
{
    // A leading dot starts a hidden name, not an extension.
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const bool hasExtension = dot > 0;
    QString base = hasExtension ? name.left(dot) : name;
    const QString extension = hasExtension ? name.mid(dot) : QString();
    QString mark = QStringLiteral(" (drive copy %1)")
                       .arg(modified.isValid() ? modified.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HHmm"))
                                               : QStringLiteral("undated"));
    if (attempt > 1)
        mark += QStringLiteral(" %1").arg(attempt);
    // A long name is shortened before the mark, so the mark and the extension stay.
    while (!base.isEmpty() && platform::FileNameCodec::encode(base + mark + extension).size() > kMaxNameBytes)
        base.chop(1);
    return base + mark + extension;
}

QString PMDriveCopyKeeper::keep(const QString &mountPoint, const QString &drivePath, const QDateTime &modified)
{
    const QString root = mountPoint.endsWith(QLatin1Char('/')) ? mountPoint.chopped(1) : mountPoint;
    if (!drivePath.startsWith(root + QLatin1Char('/'))) {
        qCWarning(lcKeeper) << "not on the drive:" << drivePath;
        return QString();
    }
    const QStringList components = drivePath.mid(root.size() + 1).split(QLatin1Char('/'));
    const PMUniqueFd folder = openParentBeneath(root, components);
    const QString name = components.last();
    if (!folder.isValid() || name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")) {
        qCWarning(lcKeeper) << "cannot reach" << drivePath << "on the drive:" << strerror(errno);
        return QString();
    }
    const QByteArray from = platform::FileNameCodec::encode(name);
    const QString folderPath = drivePath.left(drivePath.size() - name.size());
    for (int attempt = 1; attempt <= kMaxAttempts; ++attempt) {
        const QString kept = keptName(name, modified, attempt);
        if (renameWithoutReplacing(folder.get(), from, platform::FileNameCodec::encode(kept)) == 0)
            return folderPath + kept;
        if (errno != EEXIST)
            break;
    }
    qCWarning(lcKeeper) << "cannot rename" << drivePath << "on the drive:" << strerror(errno);
    return QString();
}
