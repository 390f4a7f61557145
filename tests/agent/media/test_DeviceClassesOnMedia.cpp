// What each device class copies, decided on real media files through the file validator with
// all four categories switched on, exactly as a sync would ask.
#include "MediaCorpus.h"

#include "agent/media/PMFileValidator.h"
#include "agent/media/PMMediaCharacterizer.h"
#include "agent/media/PMMediaExtensionLists.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace {

// Device filter values (what the user picks) for each class.
constexpr int kUnlimited = 0;
constexpr int kAppleHigh = 1;
constexpr int kAppleUnlimited = 2;
constexpr int kAppleLow = 4;
constexpr int kAndroid = 5;
constexpr int kKindleFire = 6;
constexpr int kKindleFireHD = 7;
constexpr int kWindowsRT = 8;

struct Case {
    const char *corpusFile;
    const char *nameOnDisk;
    int deviceFilter;
    bool copied;
};

void PrintTo(const Case &c, std::ostream *os)
{
    *os << c.corpusFile << " as " << c.nameOnDisk << " with filter " << c.deviceFilter;
}

class DeviceClassTest : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override
    {
        if (!MediaCorpus::available())
            GTEST_SKIP() << MediaCorpus::unavailableReason().toStdString();
        ASSERT_TRUE(m_dir.isValid());
    }

    QString place(const Case &c)
    {
        const QString source = MediaCorpus::file(QString::fromLatin1(c.corpusFile));
        EXPECT_FALSE(source.isEmpty());
        const QString target = m_dir.filePath(QString::fromUtf8(c.nameOnDisk));
        EXPECT_TRUE(QFile::copy(source, target));
        return target;
    }

    static std::unique_ptr<PMFileValidator> validatorFor(int deviceFilter)
    {
        PMMediaExtensionLists lists;
        lists.updateAll(true, true, true, true, deviceFilter);
        auto validator = std::make_unique<PMFileValidator>();
        validator->addContainerValidators(lists.mediaFileExtensions());
        return validator;
    }

    QTemporaryDir m_dir;
};

TEST_P(DeviceClassTest, copiesWhatTheDeviceCanPlay)
{
    const Case &c = GetParam();
    const QString path = place(c);
    EXPECT_EQ(validatorFor(c.deviceFilter)->shouldCopyItem(path, false), c.copied);
}

INSTANTIATE_TEST_SUITE_P(Media, DeviceClassTest,
    ::testing::Values(
        // Picture size and frame rate limits of the Apple classes.
        Case { "h264_1280x720_30.mp4", "clip.mp4", kAppleLow, false },
        Case { "h264_1280x720_30.mp4", "clip.mp4", kAppleHigh, true },
        Case { "h264_1280x720_30.mp4", "clip.mp4", kAppleUnlimited, true },
        Case { "h264_1280x720_3001.mp4", "clip.mp4", kAppleLow, false },
        Case { "h264_1280x720_3001.mp4", "clip.mp4", kAppleHigh, false },
        Case { "h264_1280x720_3001.mp4", "clip.mp4", kAppleUnlimited, true },
        Case { "h264_640x480_30.mp4", "clip.mp4", kAppleLow, true },
        Case { "h264_640x480_2997.mp4", "clip.m4v", kAppleLow, true },
        Case { "h264_640x480_31.mp4", "clip.mov", kAppleLow, false },
        Case { "h264_1920x1080_30.mp4", "clip.mp4", kAppleHigh, false },
        Case { "h264_640x480_30.mp4", "movie.MP4", kAppleLow, true },
        // Audio: AC-3 only, channels, sample rate, MP3.
        Case { "h264_640x480_ac3.mp4", "clip.mp4", kKindleFireHD, true },
        Case { "h264_640x480_ac3.mp4", "clip.mp4", kWindowsRT, true },
        Case { "h264_640x480_ac3.mp4", "clip.mp4", kKindleFire, false },
        Case { "h264_640x480_ac3.mp4", "clip.mp4", kAppleHigh, false },
        Case { "h264_640x480_6ch.mp4", "clip.mp4", kAppleLow, false },
        Case { "h264_640x480_6ch.mp4", "clip.mp4", kAppleUnlimited, true },
        Case { "h264_640x480_96k.mp4", "clip.mp4", kAppleHigh, false },
        Case { "h264_640x480_96k.mp4", "clip.mp4", kAppleUnlimited, true },
        Case { "h264_640x480_mp3.mp4", "clip.mp4", kWindowsRT, true },
        Case { "h264_640x480_mp3.mp4", "clip.mp4", kKindleFire, false },
        Case { "h264_640x480_silent.mp4", "clip.mp4", kAppleLow, true },
        Case { "h264_640x480_silent.mp4", "clip.mp4", kAndroid, true },
        // Only enabled tracks count; the last enabled one is judged.
        Case { "h264_disabled_720p_enabled_vga.mp4", "clip.mp4", kAppleLow, true },
        // MPEG-4 Part 2 and H.263 in their containers.
        Case { "mpeg4_640x480.mp4", "clip.mp4", kAppleLow, true },
        Case { "mpeg4_640x480.m4v", "clip.m4v", kWindowsRT, true },
        Case { "mpeg4_640x480.mov", "clip.mov", kAppleLow, true },
        Case { "mpeg4_640x480.mp4", "clip.mp4", kKindleFire, false },
        Case { "mpeg4_640x480.mp4", "clip.3gp", kKindleFire, true },
        Case { "h263_176x144.3gp", "clip.3gp", kWindowsRT, true },
        Case { "h263_176x144.3gp", "clip.3gp", kKindleFire, true },
        Case { "h263_176x144.mp4", "clip.mp4", kWindowsRT, false },
        Case { "h263_176x144.mp4", "clip.mp4", kKindleFireHD, true },
        Case { "h263_176x144.3gp", "Foo.3g2.bak", kWindowsRT, true },
        Case { "h263_176x144.3gp", "Foo.3gp.bak", kWindowsRT, false },
        // Motion-JPEG.
        Case { "mjpeg_dmb1_ulaw.avi", "clip.avi", kAppleHigh, true },
        Case { "mjpeg_dmb1_ulaw.avi", "clip.avi", kAppleUnlimited, true },
        Case { "mjpeg_dmb1_ulaw.avi", "clip.avi", kAppleLow, false },
        Case { "mjpeg_dmb1_ulaw_6ch.avi", "clip.avi", kAppleHigh, false },
        Case { "mjpeg_dmb1_ulaw_6ch.avi", "clip.avi", kAppleUnlimited, false },
        Case { "mjpeg_dmb1_aac.avi", "clip.avi", kAppleHigh, false },
        Case { "mjpeg_640x480_alaw.mov", "clip.mov", kAppleUnlimited, true },
        Case { "mjpeg_640x480_alaw.mov", "clip.mov", kAppleHigh, false },
        Case { "h264_640x480_30.mp4", "clip.avi", kAppleHigh, false },
        // AVI goes by name alone for Windows RT and the unlimited class.
        Case { "text_named.mp4", "clip.avi", kWindowsRT, true },
        Case { "text_named.mp4", "clip.avi", kUnlimited, true },
        Case { "text_named.mp4", "clip.avi", kAppleUnlimited, false },
        // Music.
        Case { "aac_stereo.m4a", "song.m4a", kAppleLow, true },
        Case { "aac_stereo.m4a", "song.m4a", kKindleFire, true },
        Case { "aac_stereo.m4a", "song.m4a", kWindowsRT, true }, Case { "aac_96k.m4a", "song.m4a", kAppleLow, true },
        Case { "alac.m4a", "song.m4a", kAppleLow, true }, Case { "alac.m4a", "song.m4a", kKindleFire, false },
        Case { "alac.m4a", "song.m4a", kWindowsRT, false }, Case { "ac3.m4a", "song.m4a", kWindowsRT, true },
        Case { "ac3.m4a", "song.m4a", kAppleHigh, false }, Case { "ima4.mov", "song.mov", kAppleLow, false },
        Case { "ima4.mov", "song.mov", kAppleUnlimited, true }, Case { "adts.aac", "song.aac", kWindowsRT, true },
        Case { "mp3_named.aac", "song.aac", kWindowsRT, false }, Case { "mp3_named.aac", "song.aac", kUnlimited, true },
        Case { "aac_cover.m4a", "song.m4a", kAppleLow, true }, Case { "h264_aac.m4a", "song.m4a", kAppleLow, false },
        Case { "h264_aac.m4a", "song.m4a", kAppleUnlimited, false },
        Case { "book_png.m4b", "book.m4b", kAppleLow, true },
        Case { "book_png.m4b", "book.m4b", kAppleUnlimited, true },
        Case { "book_png.m4b", "book.m4a", kAppleLow, false }, Case { "aac_stereo.m4a", "song.3gp", kAndroid, true },
        // Damaged and misnamed files.
        Case { "truncated_moov_at_end.mp4", "clip.mp4", kAppleHigh, false },
        Case { "truncated_moov_at_end.mp4", "clip.mp4", kUnlimited, true },
        Case { "empty.mp4", "clip.mp4", kAppleLow, false }, Case { "text_named.mp4", "clip.mp4", kAppleHigh, false },
        Case { "raw_h264_named.mp4", "clip.mp4", kAppleHigh, false },
        Case { "h264_640x480_30.mkv", "clip.mkv", kAndroid, true },
        Case { "h264_640x480_30.mkv", "clip.mp4", kAppleHigh, false }));

TEST_F(DeviceClassTest, nameOnlyEntriesNeverOpenTheFile)
{
    const Case c { "mjpeg_dmb1_ulaw.avi", "clip.avi", kWindowsRT, true };
    const QString path = place(c);
    PMMediaCharacterizer::shared().clearCache();
    const quint64 before = PMMediaCharacterizer::shared().openCount();
    EXPECT_TRUE(validatorFor(kWindowsRT)->shouldCopyItem(path, false));
    EXPECT_TRUE(validatorFor(kUnlimited)->shouldCopyItem(path, false));
    EXPECT_EQ(PMMediaCharacterizer::shared().openCount(), before);
    EXPECT_TRUE(validatorFor(kAppleHigh)->shouldCopyItem(path, false));
    EXPECT_EQ(PMMediaCharacterizer::shared().openCount(), before + 1);
}

TEST_F(DeviceClassTest, aFileAskedBySeveralEntriesInARowIsOpenedOnce)
{
    // Refused by the movie entry and then asked again by the music entry of the same name.
    const Case c { "h264_640x480_ac3.mp4", "clip.mp4", kAppleHigh, false };
    const QString path = place(c);
    PMMediaCharacterizer::shared().clearCache();
    const quint64 before = PMMediaCharacterizer::shared().openCount();
    EXPECT_FALSE(validatorFor(kAppleHigh)->shouldCopyItem(path, false));
    EXPECT_EQ(PMMediaCharacterizer::shared().openCount(), before + 1);
    EXPECT_FALSE(validatorFor(kAppleLow)->shouldCopyItem(path, false));
    EXPECT_EQ(PMMediaCharacterizer::shared().openCount(), before + 1);
}

} // namespace
