#include "netstorage/PMFileSystemClassifier.h"

#include "netstorage/FSNamesAndTags.h"

#include <QStringList>

#include <array>
#include <functional>

namespace {

struct Rule {
    std::function<bool(const QString &kind, const QString &content)> matches;
    std::function<PMFileSystemClass(const QString &kind, const QString &content, const FSNamesAndTags &)> decide;
};

bool isOneOf(const QString &kind, const QStringList &kinds)
{
    return kinds.contains(kind);
}

bool isNtfsKind(const QString &kind)
{
    return kind.startsWith(QLatin1String("NTFS"), Qt::CaseInsensitive)
        || kind.endsWith(QLatin1String("NTFS"), Qt::CaseInsensitive);
}

const std::array<Rule, 6> &rules()
{
    static const std::array<Rule, 6> table = {
        Rule { [](const QString &kind, const QString &content) {
                  return content == QLatin1String("DOS_FAT_32")
                      || isOneOf(
                          kind, { QStringLiteral("vfat"), QStringLiteral("msdos"), QStringLiteral("MS-DOS FAT32") });
              },
            [](const QString &, const QString &, const FSNamesAndTags &) {
                return PMFileSystemClass { true, false, true };
            } },
        Rule { [](const QString &kind, const QString &content) {
                  return content.contains(QLatin1String("HFS"))
                      || isOneOf(kind, { QStringLiteral("hfs"), QStringLiteral("hfsplus") });
              },
            [](const QString &, const QString &, const FSNamesAndTags &) {
                return PMFileSystemClass { true, false, false };
            } },
        // MBR type 0x07 holds exFAT as well as NTFS; the file system found decides then.
        Rule { [](const QString &kind, const QString &content) {
                  return content == QLatin1String("Windows_NTFS") && kind != QLatin1String("exfat");
              },
            [](const QString &, const QString &content, const FSNamesAndTags &catalog) {
                return PMFileSystemClass { catalog.contentHintIsFormattable(content), true, false };
            } },
        Rule { [](const QString &kind, const QString &) { return isNtfsKind(kind); },
            [](const QString &kind, const QString &, const FSNamesAndTags &catalog) {
                bool compatible = catalog.personalityIsFormattable(kind);
                if (!compatible && kind == QLatin1String("ufsd_NTFS"))
                    compatible = catalog.personalityIsFormattable(kind.toUpper());
                return PMFileSystemClass { compatible, true, false };
            } },
        Rule { [](const QString &kind, const QString &) { return kind == QLatin1String("exfat"); },
            [](const QString &kind, const QString &, const FSNamesAndTags &catalog) {
                return PMFileSystemClass { catalog.personalityIsWritable(kind), false, false };
            } },
        Rule { [](const QString &kind, const QString &) {
                  return isOneOf(kind,
                      { QStringLiteral("ext2"), QStringLiteral("ext3"), QStringLiteral("ext4"), QStringLiteral("btrfs"),
                          QStringLiteral("xfs") });
              },
            [](const QString &, const QString &, const FSNamesAndTags &) {
                return PMFileSystemClass { true, false, false };
            } },
    };
    return table;
}

} // namespace

PMFileSystemClass PMFileSystemClassifier::classify(
    const QString &kind, const QString &contentHint, const FSNamesAndTags &catalog)
{
    for (const Rule &rule : rules())
        if (rule.matches(kind, contentHint))
            return rule.decide(kind, contentHint, catalog);
    return {};
}
