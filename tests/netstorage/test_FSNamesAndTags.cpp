#include "netstorage/FSNamesAndTags.h"

#include <gtest/gtest.h>

namespace {

class FakeCatalog : public FSCatalogSource {
public:
    QList<FSPersonalityInfo> entries;
    bool ntfs3gDisabled = false;

    FakeCatalog &add(const QString &personality, const QString &userName, const QString &mask, bool formatter = true,
        bool writer = true)
    {
        entries.append({ personality, userName, mask, formatter, writer });
        return *this;
    }
    QList<FSPersonalityInfo> personalities() const override { return entries; }
    bool isNtfs3gDriverDisabled() const override { return ntfs3gDisabled; }
};

FakeCatalog systemOnly()
{
    FakeCatalog catalog;
    catalog.add("vfat", "MS-DOS FAT32", "DOS_FAT_32").add("ext4", "Linux ext4", "Linux");
    catalog.add("ntfs", "NTFS", "Windows_NTFS", true, false); // a formatter, but nothing writes it
    return catalog;
}

} // namespace

TEST(FSNamesAndTags, OnlySystemFormattersPreferFat32)
{
    const FSNamesAndTags catalog(systemOnly());
    EXPECT_TRUE(catalog.ntfsFormatterName().isEmpty());
    EXPECT_EQ(catalog.preferredFormatterName(), "MS-DOS FAT32");
    EXPECT_EQ(catalog.preferredFormatterUserName(), "MS-DOS FAT32");
    EXPECT_TRUE(catalog.useFAT32Formatter());
    EXPECT_FALSE(catalog.personalityIsFormattable("ntfs"));
    EXPECT_FALSE(catalog.contentHintIsFormattable("Windows_NTFS"));
    EXPECT_TRUE(catalog.personalityIsFormattable("vfat"));
    EXPECT_TRUE(catalog.contentHintIsFormattable("DOS_FAT_32"));
}

TEST(FSNamesAndTags, ShortestFormattableNtfsNameWins)
{
    FakeCatalog source;
    source.add("NTFS-Extra", "NTFS Extra", "Windows_NTFS").add("NTFS", "NTFS", "Windows_NTFS");
    source.add("vfat", "MS-DOS FAT32", "DOS_FAT_32");
    const FSNamesAndTags catalog(source);
    EXPECT_EQ(catalog.ntfsFormatterName(), "NTFS");
    EXPECT_EQ(catalog.preferredFormatterName(), "NTFS");
    EXPECT_FALSE(catalog.useFAT32Formatter());

    // Names ending with NTFS count; lower-case Linux names too; unformattable ones never do.
    FakeCatalog others;
    others.add("ufsd_NTFS", "Paragon NTFS", "")
        .add("ntfs3", "NTFS", "", false, true)
        .add("NTFS", "NTFS", "", true, false);
    EXPECT_EQ(FSNamesAndTags(others).ntfsFormatterName(), "ufsd_NTFS");
    FakeCatalog linux;
    linux.add("ntfs", "NTFS", "Windows_NTFS");
    EXPECT_EQ(FSNamesAndTags(linux).ntfsFormatterName(), "ntfs");

    // On equal length the first one met wins.
    FakeCatalog tie;
    tie.add("NTFSB", "B", "").add("ANTFS", "A", "");
    EXPECT_EQ(FSNamesAndTags(tie).ntfsFormatterName(), "NTFSB");
}

TEST(FSNamesAndTags, DisabledNtfs3gIsNeitherPreferredNorFormattable)
{
    FakeCatalog source = systemOnly();
    source.add("NTFS-3G", "Windows NTFS (NTFS-3G)", "Windows_NTFS");
    source.ntfs3gDisabled = true;
    const FSNamesAndTags disabled(source);
    EXPECT_FALSE(disabled.personalityIsFormattable("NTFS-3G"));
    EXPECT_FALSE(disabled.contentHintIsFormattable("Windows_NTFS"));
    EXPECT_FALSE(disabled.personalityIsWritable("NTFS-3G"));
    EXPECT_TRUE(disabled.ntfsFormatterName().isEmpty());
    EXPECT_TRUE(disabled.useFAT32Formatter());

    source.ntfs3gDisabled = false;
    const FSNamesAndTags enabled(source);
    EXPECT_TRUE(enabled.personalityIsFormattable("NTFS-3G"));
    EXPECT_EQ(enabled.ntfsFormatterName(), "NTFS-3G");
    EXPECT_FALSE(enabled.useFAT32Formatter());
}

TEST(FSNamesAndTags, NamesByPersonalityAndContentHintWithUnknownFallback)
{
    FakeCatalog source = systemOnly();
    source.add("exfat", "ExFAT", "").add("nameless", "", "Nameless_Hint");
    const FSNamesAndTags catalog(source);
    EXPECT_EQ(catalog.userFSNameForPersonality("vfat"), "MS-DOS FAT32");
    EXPECT_EQ(catalog.userFSNameForContentHint("DOS_FAT_32"), "MS-DOS FAT32");
    EXPECT_EQ(catalog.userFSNameForContentHint("Linux"), "Linux ext4");
    EXPECT_EQ(catalog.userFSNameForPersonality("exfat"), "ExFAT");
    EXPECT_EQ(catalog.userFSNameForPersonality("zfs"), "Unknown File System");
    EXPECT_EQ(catalog.userFSNameForContentHint("Apple_HFS"), "Unknown File System");
    EXPECT_EQ(catalog.userFSNameForPersonality("nameless"), "Unknown File System");
    EXPECT_EQ(catalog.userFSNameForContentHint("Nameless_Hint"), "Unknown File System");
    EXPECT_FALSE(catalog.personalityIsFormattable("zfs"));
    EXPECT_FALSE(catalog.contentHintIsFormattable(""));

    // Full descriptions under every key; a personality without a mask only under itself.
    const QVariantMap vfat = catalog.descriptionForPersonality("vfat");
    EXPECT_EQ(vfat.value(FSNamesAndTags::kContentMaskKey).toString(), "DOS_FAT_32");
    EXPECT_EQ(vfat.value(FSNamesAndTags::kPersonalityKey).toString(), "vfat");
    EXPECT_EQ(vfat.value(FSNamesAndTags::kCanFormatKey).toBool(), true);
    EXPECT_EQ(catalog.descriptionForUserName("MS-DOS FAT32"), vfat);
    EXPECT_EQ(catalog.descriptionForContentHint("DOS_FAT_32"), vfat);
    const QVariantMap exfat = catalog.descriptionForPersonality("exfat");
    EXPECT_EQ(exfat.size(), 3);
    EXPECT_FALSE(exfat.contains(FSNamesAndTags::kContentMaskKey));
    EXPECT_TRUE(catalog.descriptionForUserName("ExFAT").isEmpty());
    EXPECT_TRUE(catalog.descriptionForPersonality("nameless").isEmpty());
}

TEST(FSNamesAndTags, WritabilityIsKeptApartFromFormatting)
{
    FakeCatalog source;
    source.add("exfat", "ExFAT", "", false, true).add("hfs", "Mac OS Standard", "", false, false);
    const FSNamesAndTags catalog(source);
    EXPECT_TRUE(catalog.personalityIsWritable("exfat"));
    EXPECT_FALSE(catalog.personalityIsFormattable("exfat"));
    EXPECT_FALSE(catalog.personalityIsWritable("hfs"));
    EXPECT_FALSE(catalog.personalityIsWritable("zfs"));
}

TEST(FSNamesAndTags, FixedNamesAndOneSharedCatalog)
{
    EXPECT_EQ(FSNamesAndTags::fat32FormatterName(), "MS-DOS FAT32");
    EXPECT_EQ(FSNamesAndTags::outputVolumeName(), "Theater");
    const FSNamesAndTags &shared = FSNamesAndTags::sharedManager();
    EXPECT_EQ(&shared, &FSNamesAndTags::sharedManager());
    // Every Linux kernel that runs these tests mounts ext4.
    EXPECT_EQ(shared.userFSNameForPersonality("ext4"), "Linux ext4");
}
