// The catalog of the file systems this computer has: names them in the user's words and
// says which can be formatted (and so written) here, for the drive qualification of the agent
// and the volume list of the manager. Each entry is a description dictionary with the keys
// "FSFormatContentMask", "FSName", "FSCanFormat" and "FSPersonality", kept by user name, by
// partition content hint and by personality.
//
//   const FSNamesAndTags &catalog = FSNamesAndTags::sharedManager();
//   label->setText(catalog.userFSNameForPersonality(QStringLiteral("exfat"))); // "ExFAT"
//   if (catalog.useFAT32Formatter()) ...
//
// The shared catalog is built once per process on first use and never changes afterwards
// (file systems installed later are not noticed), so any thread may read it.
#pragma once

#include "netstorage/FSCatalogSource.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <QVariantMap>

class FSNamesAndTags {
public:
    static inline const QString kContentMaskKey = QStringLiteral("FSFormatContentMask");
    static inline const QString kNameKey = QStringLiteral("FSName");
    static inline const QString kCanFormatKey = QStringLiteral("FSCanFormat");
    static inline const QString kPersonalityKey = QStringLiteral("FSPersonality");
    static inline const QString kNtfs3gPersonality = QStringLiteral("NTFS-3G");

    // Builds a catalog from source (read once, here).
    explicit FSNamesAndTags(const FSCatalogSource &source);
    // This computer's catalog, built on first use from the system's own source.
    static const FSNamesAndTags &sharedManager();

    static QString fat32FormatterName() { return QStringLiteral("MS-DOS FAT32"); }
    // The volume name given to a drive the manager formats.
    static QString outputVolumeName() { return QStringLiteral("Theater"); }

    // The user-visible name, or the localized "Unknown File System" after a failed lookup.
    QString userFSNameForContentHint(const QString &contentHint) const;
    QString userFSNameForPersonality(const QString &personality) const;
    bool contentHintIsFormattable(const QString &contentHint) const;
    bool personalityIsFormattable(const QString &personality) const;
    // Whether a driver here writes the personality, formatter or not.
    bool personalityIsWritable(const QString &personality) const;

    // The shortest formattable personality beginning or ending with "NTFS" (a disabled
    // NTFS-3G does not count), or an empty string when there is none.
    QString ntfsFormatterName() const;
    QString preferredFormatterName() const;
    QString preferredFormatterUserName() const { return preferredFormatterName(); }
    bool useFAT32Formatter() const;

    // The description dictionaries, for callers that show them.
    QVariantMap descriptionForUserName(const QString &userName) const { return m_byUserName.value(userName); }
    QVariantMap descriptionForContentHint(const QString &hint) const { return m_byContentHint.value(hint); }
    QVariantMap descriptionForPersonality(const QString &name) const { return m_byPersonality.value(name); }

    static QString unknownFileSystemName();

private:
    void scan(const FSCatalogSource &source);
    static bool isNtfsName(const QString &personality);
    static bool isNtfs3g(const QString &personality);

    QHash<QString, QVariantMap> m_byUserName;
    QHash<QString, QVariantMap> m_byContentHint;
    QHash<QString, QVariantMap> m_byPersonality;
    QStringList m_personalityOrder; // the source's order, for ties between names
    QStringList m_writable;
    bool m_ntfs3gDisabled = false;
};
