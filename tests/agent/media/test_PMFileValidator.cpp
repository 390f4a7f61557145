// The file validator's decision order and the selection of lists per device class, on real
// folders and files (no media content needed: every list here decides by name).
#include "agent/media/PMFileValidator.h"
#include "agent/media/PMMediaExtensionLists.h"
#include "agent/media/PMPhotoBoothSpecialContentValidator.h"
#include "agent/media/PMValidatorOwner.h"
#include "agent/settings/PMConfigurationFile.h"
#include "platform/FileNameCodec.h"
#include "platform/PreferenceStore.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

#include <atomic>
#include <thread>

namespace {

class CancelFlag : public PMValidatorOwner {
public:
    bool cancelPending() const override { return cancel.load(); }
    std::atomic<bool> cancel { false };
};

class FileValidatorTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    QString makeFile(const QString &name, qint64 size = 4)
    {
        const QString path = m_dir.filePath(name);
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
        EXPECT_TRUE(file.resize(size)); // sparse: no blocks for the large ones
        return path;
    }

    QString makeFolder(const QString &name)
    {
        const QString path = m_dir.filePath(name);
        EXPECT_TRUE(QDir().mkpath(path));
        return path;
    }

    static std::unique_ptr<PMFileValidator> validatorFor(
        int deviceFilter, bool movies = true, bool music = true, bool pictures = true, bool documents = true)
    {
        PMMediaExtensionLists lists;
        lists.updateAll(movies, music, pictures, documents, deviceFilter);
        auto validator = std::make_unique<PMFileValidator>();
        validator->addContainerValidators(lists.mediaFileExtensions());
        return validator;
    }

    QTemporaryDir m_dir;
};

TEST_F(FileValidatorTest, namesMatchAnywhereWithoutRegardToCase)
{
    const auto unlimited = validatorFor(0);
    EXPECT_TRUE(unlimited->shouldCopyItem(makeFile("movie.MP4"), false));
    EXPECT_TRUE(unlimited->shouldCopyItem(makeFile("Report.PDF"), false));
    EXPECT_TRUE(unlimited->shouldCopyItem(makeFile("novel.azw3"), false));
    EXPECT_FALSE(unlimited->shouldCopyItem(makeFile("movie.mp4.part"), false));
    EXPECT_FALSE(unlimited->shouldCopyItem(makeFile("program.exe"), false));
    // The base name given is the one judged, not the path's.
    const QString odd = makeFile("download.tmp");
    EXPECT_TRUE(unlimited->shouldCopyItem(odd, QStringLiteral("holiday.mkv"), false));
    EXPECT_FALSE(unlimited->shouldCopyItem(odd, false));
}

TEST_F(FileValidatorTest, theUnanchoredThreeG2EntryOfWindowsRTClaimsNamesThatOnlyContainIt)
{
    const PMMediaLists::List &windowsRT = PMMediaExtensionLists::listFor(PMMediaCategory::Movies, 7);
    ASSERT_GE(windowsRT.size(), 2u);
    const PMContainerValidator &threeG2 = *windowsRT[1];
    EXPECT_TRUE(threeG2.pattern().matches("Foo.3g2.bak"));
    EXPECT_FALSE(windowsRT[0]->pattern().matches("Foo.3gp.bak"));
    // Its rules need media content: a file that is not a movie is refused.
    const auto validator = validatorFor(8);
    EXPECT_FALSE(validator->shouldCopyItem(makeFile("Foo.3g2.bak"), false));
}

TEST_F(FileValidatorTest, refusalsComeFirstInTheirOrder)
{
    PMFileValidator validator;
    validator.addContainerValidator(PMContainerValidator::suffixMatch(".*", true)); // copies any name
    CancelFlag owner;
    validator.setOwner(&owner);

    const QString folder = makeFolder("Holiday");
    EXPECT_TRUE(validator.shouldCopyItem(makeFile("anything.bin"), false));
    EXPECT_TRUE(validator.shouldCopyItem(folder, false));

    for (const char *name : { ".d$f.1234", ".d$d.folder", ".DS_Store", ".Spotlight-V100", ".hotfiles.btree", ".Trash",
             ".Trashes", ".localized", ".ipspot_update", ".Z_PM_W" })
        EXPECT_FALSE(validator.shouldCopyItem(makeFile(QString::fromLatin1(name)), false)) << name;
    EXPECT_FALSE(validator.shouldCopyItem(makeFolder("Volume/.Trashes"), false));
    // Names are compared exactly.
    EXPECT_TRUE(validator.shouldCopyItem(makeFile(".ds_store"), false));
    EXPECT_TRUE(validator.shouldCopyItem(makeFile("x.d$f.1"), false));

    for (const char *path : { "/Library", "/Applications", "/System", "/tmp", "/var", "/usr", "/etc", "/dev", "/proc",
             "/sys", "/run", "/boot", "/Library/", "/usr/../usr", "~/.Z_PM_W" })
        EXPECT_FALSE(validator.shouldCopyItem(QString::fromLatin1(path), false)) << path;
    // Only the listed folder itself, not what lies below it.
    EXPECT_TRUE(validator.shouldCopyItem(QStringLiteral("/Library/Fonts"), false));
    EXPECT_TRUE(validator.shouldCopyItem(QStringLiteral("/usr/share"), false));

    owner.cancel = true;
    EXPECT_FALSE(validator.shouldCopyItem(folder, false));
    EXPECT_FALSE(validator.shouldCopyItem(makeFile("anything.bin"), false));
}

TEST_F(FileValidatorTest, foldersAreEnteredButPackagesAreJudgedByName)
{
    PMFileValidator empty;
    EXPECT_TRUE(empty.shouldCopyItem(makeFolder("Plain"), false));
    EXPECT_FALSE(empty.shouldCopyItem(makeFile("song.mp3"), false)) << "no lists: nothing is copied";
    // A link to a folder is a folder.
    const QString link = m_dir.filePath(QStringLiteral("LinkToPlain"));
    ASSERT_TRUE(QFile::link(m_dir.filePath(QStringLiteral("Plain")), link));
    EXPECT_TRUE(empty.shouldCopyItem(link, false));

    EXPECT_FALSE(empty.shouldCopyItem(makeFolder("Notes.rtfd"), false));
    const auto pictures = validatorFor(0, false, false, true, false);
    EXPECT_TRUE(pictures->shouldCopyItem(makeFolder("Trip.photolibrary"), false));
    const auto documents = validatorFor(0, false, false, false, true);
    EXPECT_TRUE(documents->shouldCopyItem(makeFolder("Budget.numbers"), false));
    EXPECT_FALSE(documents->shouldCopyItem(makeFolder("Tool.app"), false));
}

TEST_F(FileValidatorTest, theFourGigabyteLimitAdmitsFilesUpToOneByteBelowFourGiB)
{
    const auto unlimited = validatorFor(0);
    const QString largest = makeFile("largest.mkv", PMFileValidator::kMaxSizeWith4GLimit);
    const QString tooLarge = makeFile("toolarge.mkv", PMFileValidator::kMaxSizeWith4GLimit + 1);
    EXPECT_TRUE(unlimited->shouldCopyItem(largest, true));
    EXPECT_FALSE(unlimited->shouldCopyItem(tooLarge, true));
    EXPECT_TRUE(unlimited->shouldCopyItem(tooLarge, false));
    // ".mp4" is in both the movie and the music list: neither may copy it.
    EXPECT_FALSE(unlimited->shouldCopyItem(makeFile("huge.mp4", PMFileValidator::kMaxSizeWith4GLimit + 1), true));
}

TEST_F(FileValidatorTest, attributesReadByTheCallerGiveTheSameAnswersAsThePath)
{
    const auto unlimited = validatorFor(0);
    const QString paths[] = { makeFile("largest.mkv", PMFileValidator::kMaxSizeWith4GLimit),
        makeFile("toolarge.mkv", PMFileValidator::kMaxSizeWith4GLimit + 1), makeFile("small.exe", 10),
        makeFolder("Plain Folder"), makeFolder("Tool.app") };
    for (const QString &path : paths) {
        struct stat known = {};
        ASSERT_EQ(::lstat(QFile::encodeName(path).constData(), &known), 0);
        const QString baseName = QFileInfo(path).fileName();
        for (bool limit : { false, true })
            EXPECT_EQ(unlimited->shouldCopyItem(path, baseName, limit, &known),
                unlimited->shouldCopyItem(path, baseName, limit))
                << path.toStdString() << " limit " << limit;
    }
    // The caller's attributes are what counts: the file is not examined again.
    struct stat pretended = {};
    pretended.st_mode = S_IFREG | 0644;
    pretended.st_size = PMFileValidator::kMaxSizeWith4GLimit + 1;
    EXPECT_FALSE(unlimited->shouldCopyItem(paths[0], QStringLiteral("largest.mkv"), true, &pretended));
    // A link's attributes say nothing of its target: the folder it leads to is looked at.
    const QString link = m_dir.filePath(QStringLiteral("to folder"));
    ASSERT_TRUE(QFile::link(paths[3], link));
    struct stat linkAttributes = {};
    ASSERT_EQ(::lstat(QFile::encodeName(link).constData(), &linkAttributes), 0);
    EXPECT_EQ(unlimited->shouldCopyItem(link, QStringLiteral("to folder"), false, &linkAttributes),
        unlimited->shouldCopyItem(link, QStringLiteral("to folder"), false));
}

TEST_F(FileValidatorTest, namesThatAreNotUtf8AreExaminedByTheirOwnBytes)
{
    const auto unlimited = validatorFor(0);
    // The walk carries the byte 0xFF of "d" 0xFF and 0xE9 of "caf" 0xE9 ".mkv" losslessly.
    const QString folder = m_dir.filePath(platform::FileNameCodec::decode("d\xFF"));
    ASSERT_EQ(::mkdir(platform::FileNameCodec::encode(folder).constData(), 0755), 0);
    const QString name = platform::FileNameCodec::decode("caf\xE9.mkv");
    const QString large = m_dir.filePath(name);
    const int fd
        = ::open(platform::FileNameCodec::encode(large).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, PMFileValidator::kMaxSizeWith4GLimit + 1), 0); // sparse
    ::close(fd);

    EXPECT_TRUE(unlimited->shouldCopyItem(folder, platform::FileNameCodec::decode("d\xFF"), false))
        << "a folder is entered, whatever its name";
    EXPECT_TRUE(unlimited->shouldCopyItem(large, name, false));
    EXPECT_FALSE(unlimited->shouldCopyItem(large, name, true)) << "its size is read from the file itself";
}

TEST_F(FileValidatorTest, deviceFilterValuesSelectTheirClass)
{
    const std::vector<std::pair<int, int>> table = { { 0, 0 }, { 1, 2 }, { 2, 3 }, { 3, 2 }, { 4, 1 }, { 5, 4 },
        { 6, 5 }, { 7, 6 }, { 8, 7 }, { 9, 0 }, { -1, 0 }, { 1000, 0 } };
    for (const auto &[filter, deviceClass] : table)
        EXPECT_EQ(PMMediaExtensionLists::deviceClassForFilter(filter), deviceClass) << filter;
}

TEST_F(FileValidatorTest, eachClassAndCategoryUsesItsList)
{
    const QStringList expected = {
        "pmfv_unlim_V pmfv_unlim_A pmfv_unlim_P pmfv_unlim_D",
        "pmfv_apple_low_V pmfv_apple_A pmfv_apple_P pmfv_apple_D",
        "pmfv_apple_high_V pmfv_apple_A pmfv_apple_P pmfv_apple_D",
        "pmfv_apple_unlim_V pmfv_apple_unlim_A pmfv_apple_P pmfv_apple_D",
        "pmfv_android_ics_V pmfv_android_ics_A pmfv_android_ics_P pmfv_android_ics_D",
        "pmfv_kindle_fire_V pmfv_kindle_fire_A pmfv_kindle_fire_P pmfv_kindle_fire_D",
        "pmfv_kindle_fire_HD_V pmfv_kindle_fire_HD_A pmfv_kindle_fire_P pmfv_kindle_fire_D",
        "pmfv_microsoft_windowsrt_V pmfv_microsoft_windowsrt_A pmfv_microsoft_windowsrt_P "
        "pmfv_microsoft_windowsrt_D",
    };
    const PMMediaCategory categories[]
        = { PMMediaCategory::Movies, PMMediaCategory::Music, PMMediaCategory::Pictures, PMMediaCategory::Documents };
    for (int deviceClass = 0; deviceClass < 8; ++deviceClass) {
        const QStringList names = expected[deviceClass].split(QLatin1Char(' '));
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(PMMediaExtensionLists::listName(categories[i], deviceClass), names[i]);
            const auto &list = PMMediaExtensionLists::listFor(categories[i], deviceClass);
            EXPECT_FALSE(list.empty());
            EXPECT_EQ(&list, &PMMediaLists::shared().list(names[i]));
        }
    }
}

TEST_F(FileValidatorTest, mediaExtensionsJoinTheCategoriesInOrderAndSkipSwitchedOffOnes)
{
    PMMediaExtensionLists lists;
    lists.updateAll(true, true, true, true, 4); // Apple, low
    const auto &tables = PMMediaLists::shared();
    PMMediaLists::List expected;
    for (const char *name : { "pmfv_apple_low_V", "pmfv_apple_A", "pmfv_apple_P", "pmfv_apple_D" })
        for (const auto &validator : tables.list(QString::fromLatin1(name)))
            expected.push_back(validator);
    EXPECT_EQ(lists.mediaFileExtensions(), expected);

    lists.updateCategory(PMMediaCategory::Music, false, 4);
    EXPECT_TRUE(lists.musicFileExtensions().empty());
    EXPECT_EQ(lists.mediaFileExtensions().size(), expected.size() - tables.list(u"pmfv_apple_A").size());
    lists.updateCategory(PMMediaCategory::Movies, true, 0);
    EXPECT_EQ(lists.movieFileExtensions(), tables.list(u"pmfv_unlim_V"));

    PMFileValidator validator;
    EXPECT_EQ(validator.addContainerValidators(lists.mediaFileExtensions()), int(lists.mediaFileExtensions().size()));
    validator.flushValidators();
    EXPECT_TRUE(validator.containerValidators().empty());
}

TEST_F(FileValidatorTest, classesDifferInWhatTheyCopyByName)
{
    struct Case {
        const char *name;
        int deviceFilter;
        bool copied;
    };
    const Case cases[] = {
        { "clip.mkv", 0, true },
        { "clip.mkv", 5, true },
        { "clip.mkv", 6, false },
        { "clip.avi", 8, true },
        { "clip.avi", 0, true },
        { "clip.webm", 7, true },
        { "song.flac", 0, true },
        { "song.flac", 4, false },
        { "song.flac", 5, true },
        { "song.ac3", 7, true },
        { "song.ac3", 6, false },
        { "song.wma", 8, true },
        { "song.aiff", 4, true },
        { "photo.webp", 0, true },
        { "photo.webp", 4, false },
        { "photo.tiff", 8, true },
        { "photo.tiff", 6, false },
        { "book.azw", 6, true },
        { "book.azw", 4, false },
        { "talk.key", 1, true },
        { "talk.key", 5, false },
        { "card.vcf", 8, false },
        { "card.vcf", 4, true },
        { "playlist.m3u", 0, true },
    };
    for (const Case &c : cases) {
        const auto validator = validatorFor(c.deviceFilter);
        EXPECT_EQ(validator->shouldCopyItem(makeFile(QString::fromLatin1(c.name)), false), c.copied)
            << c.name << " with device filter " << c.deviceFilter;
    }
}

TEST_F(FileValidatorTest, photoBoothLibraryFilesAreCopiedWhateverTheirName)
{
    const QString library = makeFolder("Photo Booth Library");
    const QString inside = makeFile("Photo Booth Library/Pictures/Photo 1.weird");
    const QString outside = makeFile("Photo 2.weird");
    const auto apple = validatorFor(4, false, false, true, false);
    const auto android = validatorFor(5, false, false, true, false);
    EXPECT_FALSE(apple->shouldCopyItem(inside, false)) << "no library known yet";

    platform::PreferenceStore photoBooth(PMPhotoBoothSpecialContentValidator::preferenceFilePath());
    ASSERT_TRUE(photoBooth.setValue(QStringLiteral("LibraryPath"), library));
    EXPECT_TRUE(testsupport::waitFor([&] { return apple->shouldCopyItem(inside, false); }));
    EXPECT_FALSE(apple->shouldCopyItem(outside, false));
    EXPECT_FALSE(android->shouldCopyItem(inside, false)) << "Android's picture list has no library rule";

    // The default sync set reads the same file: a library outside Pictures becomes an item.
    const QString external = QDir(m_dir.path()).filePath(QStringLiteral("Booth Elsewhere"));
    ASSERT_TRUE(photoBooth.setValue(QStringLiteral("LibraryPath"), external));
    EXPECT_EQ(PMConfigurationFile::getPhotoBoothLibraryPath(), external);

    ASSERT_TRUE(photoBooth.setValue(QStringLiteral("LibraryPath"), QString()));
    EXPECT_TRUE(testsupport::waitFor([&] { return !apple->shouldCopyItem(inside, false); }))
        << "an empty location must not claim every file";
    ASSERT_TRUE(photoBooth.removeValue(QStringLiteral("LibraryPath")));
}

TEST_F(FileValidatorTest, workersMayAskTheSameValidatorAtOnce)
{
    const auto validator = validatorFor(0);
    QStringList paths;
    std::vector<bool> expected;
    for (const char *name : { "a.mp4", "b.txt", "c.exe", ".DS_Store", "e.flac", "f.tiff", "g.bin", "h.azw2" })
        paths << makeFile(QString::fromLatin1(name));
    for (const QString &path : paths)
        expected.push_back(validator->shouldCopyItem(path, true));

    std::atomic<int> mismatches { 0 };
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t) {
        workers.emplace_back([&] {
            for (int round = 0; round < 200; ++round)
                for (int i = 0; i < paths.size(); ++i)
                    if (validator->shouldCopyItem(paths[i], true) != expected[std::size_t(i)])
                        ++mismatches;
        });
    }
    for (std::thread &worker : workers)
        worker.join();
    EXPECT_EQ(mismatches.load(), 0);
    EXPECT_EQ(expected, (std::vector<bool> { true, true, false, false, true, true, false, true }));
}

} // namespace

namespace {

TEST(PMFileValidatorPaths, standardizingAgreesWithFullCleaningForEveryShapeOfPath)
{
    const QString home = QDir::homePath();
    const char *const paths[] = { "/", "/usr", "/usr/", "/usr//share", "/usr/./share", "/usr/../usr", "/a/b/..",
        "/a/b/.", "/a/.hidden", "/a/..hidden", "/a/...", "/a/b.", "~", "~/", "~/Movies", "~/.Z_PM_W", "relative/path",
        "./x", "../x", ".", "..", "a//", "/a/b/c.mp4", "//double", "/x/y/./", "/x/.d$f.1" };
    for (const char *text : paths) {
        const QString path = QString::fromLatin1(text);
        QString expected = path;
        if (expected.startsWith(QLatin1Char('~')))
            expected.replace(0, 1, home);
        expected = QDir::cleanPath(expected);
        EXPECT_EQ(PMFileValidator::standardizedPath(path), expected) << text;
    }
}

} // namespace
