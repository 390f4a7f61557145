#include "agent/sync/PMScanEntry.h"

#include "platform/PMCorvaneUtilities.h"

using namespace PMCorvaneUtilities;

QVariantMap PMScanEntry::toDictionary() const
{
    QVariantMap d;
    d.insert(kEntryTypeKey, uint(type));
    if (action != kActionNone)
        d.insert(kActionKey, uint(action));
    d.insert(kEnabledKey, enabled);
    d.insert(kLocalPathKey, localPath);
    d.insert(kTavrinPathKey, tavrinPath);
    if (localModDate)
        d.insert(kLocalModDateKey, *localModDate);
    if (tavrinModDate)
        d.insert(kTavrinModDateKey, *tavrinModDate);
    if (localSize)
        d.insert(kLocalSizeKey, *localSize);
    if (tavrinSize)
        d.insert(kTavrinSizeKey, *tavrinSize);
    if (backupDate)
        d.insert(kBackupDateKey, *backupDate);
    if (!trueDelete.isEmpty())
        d.insert(kTrueDeleteKey, trueDelete);
    return d;
}

PMScanEntry PMScanEntry::fromDictionary(const QVariantMap &d)
{
    PMScanEntry entry;
    entry.type = quint8(numberForKey(d, kEntryTypeKey).toUInt());
    entry.action = quint8(numberForKey(d, kActionKey).toUInt());
    entry.enabled = boolForKey(d, kEnabledKey);
    entry.localPath = stringForKey(d, kLocalPathKey);
    entry.tavrinPath = stringForKey(d, kTavrinPathKey);
    auto date = [&](const QString &key) -> std::optional<QDateTime> {
        const QDateTime value = dateForKey(d, key);
        return value.isValid() ? std::optional<QDateTime>(value) : std::nullopt;
    };
    auto size = [&](const QString &key) -> std::optional<qint64> {
        const QVariant value = numberForKey(d, key);
        return value.isValid() ? std::optional<qint64>(value.toLongLong()) : std::nullopt;
    };
    entry.localModDate = date(kLocalModDateKey);
    entry.tavrinModDate = date(kTavrinModDateKey);
    entry.localSize = size(kLocalSizeKey);
    entry.tavrinSize = size(kTavrinSizeKey);
    entry.backupDate = date(kBackupDateKey);
    entry.trueDelete = stringForKey(d, kTrueDeleteKey);
    return entry;
}
