#include "autoupdate/AUHandOver.h"

#include "autoupdate/AULog.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>

QString AUHandOver::findNewExecutable(
    const QString &unpackedFolder, const QString &installFolder, const QString &relativeExecutable)
{
    const QString name = QFileInfo(QDir::cleanPath(installFolder)).fileName();
    if (name.isEmpty() || relativeExecutable.isEmpty() || relativeExecutable.startsWith(QLatin1Char('/')))
        return {};
    // Only the top level is looked at, as the install folder's own name.
    const QFileInfo tree(QDir(unpackedFolder).filePath(name));
    if (!tree.isDir() || tree.isSymLink())
        return {};
    const QString executable = QDir::cleanPath(tree.absoluteFilePath() + QLatin1Char('/') + relativeExecutable);
    const QFileInfo program(executable);
    const QString root = QFileInfo(unpackedFolder).canonicalFilePath();
    if (!program.isFile() || !program.isExecutable() || root.isEmpty()
        || !program.canonicalFilePath().startsWith(root + QLatin1Char('/')))
        return {};
    return executable;
}

bool AUHandOver::start(const QString &newExecutable, const QString &installFolder)
{
    // The new copy outlives this one; it must not write into this one's output.
    QProcess process;
    process.setProgram(newExecutable);
    process.setArguments({ QStringLiteral("installOver"), installFolder });
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    qint64 pid = 0;
    if (!process.startDetached(&pid)) {
        qCWarning(lcAutoUpdate) << "cannot start" << newExecutable << process.errorString();
        return false;
    }
    qCInfo(lcAutoUpdate) << "started" << newExecutable << "installOver" << installFolder << "as" << pid;
    return true;
}
