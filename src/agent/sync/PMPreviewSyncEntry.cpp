#include "agent/sync/PMPreviewSyncEntry.h"

#include "agent/sync/PMScanEntry.h"
#include "platform/PlatformPaths.h"

#include <QCoreApplication>

#include <ctime>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("PMPreviewSyncEntry", text);
}

QString lastComponent(const QString &path)
{
    QString trimmed = path;
    while (trimmed.size() > 1 && trimmed.endsWith(QLatin1Char('/')))
        trimmed.chop(1);
    const qsizetype slash = trimmed.lastIndexOf(QLatin1Char('/'));
    return slash < 0 || trimmed.size() == 1 ? trimmed : trimmed.mid(slash + 1);
}

// The date as the C library's "%c" writes it in the user's locale.
QString formattedDate(const QDateTime &date)
{
    const std::time_t seconds = std::time_t(date.toSecsSinceEpoch());
    std::tm local = {};
    if (!localtime_r(&seconds, &local))
        return QString();
    char buffer[128];
    // The locale's own date and time form, whatever it does with the year.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-y2k"
    const size_t length = std::strftime(buffer, sizeof buffer, "%c", &local);
#pragma GCC diagnostic pop
    return QString::fromLocal8Bit(buffer, qsizetype(length));
}

} // namespace

PMPreviewSyncEntry::PMPreviewSyncEntry(QVariantMap entryDict, QString localTempPath)
    : m_entryDict(std::move(entryDict))
    , m_localTempPath(std::move(localTempPath))
{
}

QVariant PMPreviewSyncEntry::valueForKey(const QString &key) const
{
    if (key == kFileNameKey) {
        const QString name = fileName();
        return name.isNull() ? QVariant() : QVariant(name);
    }
    if (key == kLocalDisplayPathKey)
        return localDisplayPath();
    if (key == kEntryTypeStringKey)
        return syncEntryTypeString();
    if (key == kTavrinFileInfoKey)
        return tavrinFileInfo();
    if (key == kLocalFileInfoKey)
        return localFileInfo();
    return m_entryDict.value(key);
}

bool PMPreviewSyncEntry::syncActionEnabled() const
{
    return m_entryDict.value(PMScanEntry::kEnabledKey).toBool();
}

void PMPreviewSyncEntry::setSyncActionEnabled(bool enabled)
{
    m_entryDict.insert(PMScanEntry::kEnabledKey, enabled);
}

uint PMPreviewSyncEntry::syncEntryType() const
{
    return m_entryDict.value(PMScanEntry::kEntryTypeKey).toUInt();
}

void PMPreviewSyncEntry::setSyncEntryType(uint type)
{
    m_entryDict.insert(PMScanEntry::kEntryTypeKey, type);
}

uint PMPreviewSyncEntry::actionToPerform() const
{
    return m_entryDict.value(PMScanEntry::kActionKey).toUInt();
}

bool PMPreviewSyncEntry::hasAction() const
{
    return m_entryDict.value(PMScanEntry::kActionKey).isValid();
}

void PMPreviewSyncEntry::setActionToPerform(uint action)
{
    m_entryDict.insert(PMScanEntry::kActionKey, action);
}

QString PMPreviewSyncEntry::localPath() const
{
    return m_entryDict.value(PMScanEntry::kLocalPathKey).toString();
}

QString PMPreviewSyncEntry::tavrinPath() const
{
    return m_entryDict.value(PMScanEntry::kTavrinPathKey).toString();
}

QString PMPreviewSyncEntry::fileName() const
{
    if (!localPath().isEmpty())
        return lastComponent(localPath());
    if (!tavrinPath().isEmpty())
        return lastComponent(tavrinPath());
    return QString();
}

QString PMPreviewSyncEntry::localDisplayPath() const
{
    const QString local = localPath();
    if (m_localTempPath.isEmpty())
        return local;
    const qsizetype at = local.indexOf(m_localTempPath);
    if (at < 0)
        return local;
    return platform::PlatformPaths::expandTilde(local.mid(at + m_localTempPath.size() + 1));
}

QString PMPreviewSyncEntry::syncEntryTypeString() const
{
    switch (syncEntryType()) {
    case PMScanEntry::kTypeNew:
    case PMScanEntry::kTypeNewReplacing:
        return tr("New");
    case PMScanEntry::kTypeOverwrite:
        return tr("Overwrite");
    case PMScanEntry::kTypeConflict:
        return tr("Conflict");
    case PMScanEntry::kTypeDelete:
    case PMScanEntry::kTypeDeleteRemovingId:
    case PMScanEntry::kTypeDeleteWritingRecord:
        return tr("Delete");
    default:
        return QStringLiteral("");
    }
}

QString PMPreviewSyncEntry::tavrinFileInfo() const
{
    if (actionToPerform() == PMScanEntry::kActionDeleteLocal)
        return tr("DELETED");
    return formattedFileInfoFor(sizeForKey(PMScanEntry::kTavrinSizeKey), dateForKey(PMScanEntry::kTavrinModDateKey));
}

QString PMPreviewSyncEntry::localFileInfo() const
{
    if (actionToPerform() == PMScanEntry::kActionDeleteOnDrive)
        return tr("DELETED");
    return formattedFileInfoFor(sizeForKey(PMScanEntry::kLocalSizeKey), dateForKey(PMScanEntry::kLocalModDateKey));
}

bool PMPreviewSyncEntry::clickedColumnWithIdentifier(const QString &identifier)
{
    if (identifier == PMScanEntry::kEnabledKey) {
        setSyncActionEnabled(!syncActionEnabled());
        return true;
    }
    const uint type = syncEntryType();
    if (type != PMScanEntry::kTypeOverwrite && type != PMScanEntry::kTypeConflict)
        return false;
    if (actionToPerform() == PMScanEntry::kActionCopyToDrive && identifier == kTavrinFileInfoKey) {
        setActionToPerform(PMScanEntry::kActionDriveIsNewer);
        return true;
    }
    if (actionToPerform() == PMScanEntry::kActionDriveIsNewer && identifier == kLocalFileInfoKey) {
        setActionToPerform(PMScanEntry::kActionCopyToDrive);
        return true;
    }
    return false;
}

bool PMPreviewSyncEntry::shouldHighlightColumnWithID(const QString &identifier) const
{
    if (!hasAction())
        return false;
    const uint action = actionToPerform();
    if (identifier == kTavrinFileInfoKey)
        return action == PMScanEntry::kActionDriveIsNewer || action == PMScanEntry::kActionDeleteLocal;
    if (identifier == kLocalFileInfoKey)
        return action == PMScanEntry::kActionCopyToDrive || action == PMScanEntry::kActionDeleteOnDrive;
    return false;
}

QString PMPreviewSyncEntry::formattedFileInfoFor(std::optional<qint64> size, std::optional<QDateTime> modDate)
{
    QString dateText;
    if (modDate && modDate->isValid())
        dateText = formattedDate(*modDate);
    QString sizeText;
    if (size) {
        const quint64 bytes = quint64(std::max<qint64>(*size, 0));
        if (bytes < 1024)
            sizeText = tr("%1 bytes").arg(bytes);
        else if (bytes < 1024000)
            sizeText = tr("%1 KB").arg(bytes / 1024);
        else if (bytes < 1024000000)
            sizeText = tr("%1 MB").arg(bytes / 1024000);
        else
            sizeText = tr("%1 GB").arg(bytes / 1024000000);
    }
    if (!dateText.isEmpty() && !sizeText.isEmpty())
        return dateText + QLatin1Char(' ') + sizeText;
    return dateText.isEmpty() ? sizeText : dateText;
}

std::optional<qint64> PMPreviewSyncEntry::sizeForKey(const QString &key) const
{
    const QVariant value = m_entryDict.value(key);
    bool ok = false;
    const qint64 size = value.toLongLong(&ok);
    return value.isValid() && ok ? std::optional<qint64>(size) : std::nullopt;
}

std::optional<QDateTime> PMPreviewSyncEntry::dateForKey(const QString &key) const
{
    const QDateTime date = m_entryDict.value(key).toDateTime();
    return date.isValid() ? std::optional<QDateTime>(date) : std::nullopt;
}
