#include "agent/sync/PMTrueDeleteRecord.h"

#include "platform/PMCorvaneUtilities.h"
#include "platform/PropertyList.h"

#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcTrueDelete, "pellmere.sync")

namespace {

bool writeIds(const QString &path, const QStringList &ids)
{
    QString error;
    const bool written = platform::PropertyList::writeFile(
        path, QVariantMap { { PMTrueDeleteRecord::kIdsKey, QVariant(ids) } }, platform::PlistFormat::Xml, &error);
    if (!written)
        qCWarning(lcTrueDelete) << "cannot write true-delete record" << path << error;
    return written;
}

void removeIfPresent(const QString &path)
{
    if (QFileInfo::exists(path) && !QFile::remove(path))
        qCWarning(lcTrueDelete) << "cannot remove true-delete record" << path;
}

} // namespace

QString PMTrueDeleteRecord::recordPathForItem(const QString &itemPath, bool isFolder)
{
    const QFileInfo info(itemPath);
    return QStringLiteral("%1/%2%3").arg(info.path(), isFolder ? kFolderPrefix : kFilePrefix, info.fileName());
}

bool PMTrueDeleteRecord::isRecordName(const QString &name)
{
    return name.startsWith(kFilePrefix) || name.startsWith(kFolderPrefix);
}

bool PMTrueDeleteRecord::createTrueDeleteFileAtPath(
    const QString &path, const QStringList &users, const QString &thisUser)
{
    if (users.isEmpty() || thisUser.isEmpty())
        return false;
    QStringList remaining = users;
    remaining.removeAll(thisUser);
    if (!remaining.isEmpty())
        return writeIds(path, remaining);
    removeIfPresent(path);
    return true;
}

void PMTrueDeleteRecord::removeComputerIDFromTrueDeleteFile(const QString &id, const QString &path)
{
    const auto ids = trueDeleteComputerIDsFromFile(path);
    if (ids) {
        QStringList remaining = *ids;
        remaining.removeAll(id);
        if (!remaining.isEmpty() && writeIds(path, remaining))
            return;
    }
    removeIfPresent(path);
}

std::optional<QStringList> PMTrueDeleteRecord::trueDeleteComputerIDsFromFile(const QString &path)
{
    const auto root = platform::PropertyList::readFile(path);
    if (!root || root->typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    const auto list = PMCorvaneUtilities::arrayForKey(root->toMap(), kIdsKey);
    if (!list)
        return std::nullopt;
    QStringList ids;
    for (const QVariant &value : *list)
        if (value.typeId() == QMetaType::QString)
            ids.append(value.toString());
    return ids;
}
