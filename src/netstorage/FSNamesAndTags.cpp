#include "netstorage/FSNamesAndTags.h"

#include "netstorage/LinuxFSCatalogSource.h"

#include <QCoreApplication>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcFSCatalog, "pellmere.netstorage")

namespace {

constexpr qsizetype kInitialEntries = 32;

} // namespace

FSNamesAndTags::FSNamesAndTags(const FSCatalogSource &source)
{
    m_byUserName.reserve(kInitialEntries);
    m_byContentHint.reserve(kInitialEntries);
    m_byPersonality.reserve(kInitialEntries);
    scan(source);
}

const FSNamesAndTags &FSNamesAndTags::sharedManager()
{
    // Built under the static initialisation guard, so the first callers of two threads wait
    // for one catalog. Never destroyed before exit.
    static const FSNamesAndTags *const shared = [] {
        const LinuxFSCatalogSource source;
        return new FSNamesAndTags(source);
    }();
    return *shared;
}

QString FSNamesAndTags::unknownFileSystemName()
{
    return QCoreApplication::translate("Localizable", "Unknown File System", "unknown FS");
}

bool FSNamesAndTags::isNtfsName(const QString &personality)
{
    // Linux names its file systems in lower case ("ntfs", "ntfs3"), so case does not matter.
    return personality.startsWith(QLatin1String("NTFS"), Qt::CaseInsensitive)
        || personality.endsWith(QLatin1String("NTFS"), Qt::CaseInsensitive);
}

bool FSNamesAndTags::isNtfs3g(const QString &personality)
{
    return personality.compare(kNtfs3gPersonality, Qt::CaseInsensitive) == 0;
}

void FSNamesAndTags::scan(const FSCatalogSource &source)
{
    m_ntfs3gDisabled = source.isNtfs3gDriverDisabled();
    for (const FSPersonalityInfo &info : source.personalities()) {
        qCDebug(lcFSCatalog).noquote() << "scanFSDir found personalities for key" << info.personality;
        if (info.personality.isEmpty() || m_byPersonality.contains(info.personality))
            continue;
        if (info.userName.isEmpty())
            continue; // nothing to show the user: not catalogued
        // Formatting a file system that nothing here can write would make a useless drive.
        bool canFormat = info.hasFormatter && info.canWrite;
        if (isNtfs3g(info.personality) && m_ntfs3gDisabled)
            canFormat = false;
        QVariantMap description { { kNameKey, info.userName }, { kCanFormatKey, canFormat },
            { kPersonalityKey, info.personality } };
        if (!info.contentMask.isEmpty()) {
            qCDebug(lcFSCatalog).noquote() << "scanFSDir setting dictionary entries for key" << info.personality;
            description.insert(kContentMaskKey, info.contentMask);
            m_byUserName.insert(info.userName, description);
            m_byContentHint.insert(info.contentMask, description);
        }
        m_byPersonality.insert(info.personality, description);
        m_personalityOrder.append(info.personality);
        if (info.canWrite && !(isNtfs3g(info.personality) && m_ntfs3gDisabled))
            m_writable.append(info.personality);
    }
}

QString FSNamesAndTags::userFSNameForContentHint(const QString &contentHint) const
{
    const QString name = m_byContentHint.value(contentHint).value(kNameKey).toString();
    if (!name.isEmpty())
        return name;
    qCInfo(lcFSCatalog).noquote() << "userFSNameForContentHint failed lookup for key" << contentHint;
    return unknownFileSystemName();
}

QString FSNamesAndTags::userFSNameForPersonality(const QString &personality) const
{
    const QString name = m_byPersonality.value(personality).value(kNameKey).toString();
    if (!name.isEmpty())
        return name;
    qCInfo(lcFSCatalog).noquote() << "userFSNameForPersonality failed lookup for key" << personality;
    return unknownFileSystemName();
}

bool FSNamesAndTags::contentHintIsFormattable(const QString &contentHint) const
{
    return m_byContentHint.value(contentHint).value(kCanFormatKey).toBool();
}

bool FSNamesAndTags::personalityIsFormattable(const QString &personality) const
{
    return m_byPersonality.value(personality).value(kCanFormatKey).toBool();
}

bool FSNamesAndTags::personalityIsWritable(const QString &personality) const
{
    return m_writable.contains(personality);
}

QString FSNamesAndTags::ntfsFormatterName() const
{
    QString best;
    for (const QString &personality : m_personalityOrder) {
        if (!isNtfsName(personality) || (isNtfs3g(personality) && m_ntfs3gDisabled))
            continue;
        if (!personalityIsFormattable(personality))
            continue;
        if (best.isEmpty() || personality.size() < best.size())
            best = personality;
    }
    return best;
}

QString FSNamesAndTags::preferredFormatterName() const
{
    const QString ntfs = ntfsFormatterName();
    return ntfs.isEmpty() ? fat32FormatterName() : ntfs;
}

bool FSNamesAndTags::useFAT32Formatter() const
{
    return preferredFormatterName() == fat32FormatterName();
}
