// Why the file validator leaves a real media file out: the reason must name the rule and the
// property that decided, for each way a device class refuses a file, and asking for the
// reason must never change the answer.
#include "MediaCorpus.h"

#include "agent/media/PMFileValidator.h"
#include "agent/media/PMMediaExtensionLists.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kAppleHigh = 1;
constexpr int kAppleLow = 4;
constexpr int kKindleFire = 6;

using Kind = PMFilterRefusal::Kind;
using Property = PMFilterRefusal::Property;

struct Case {
    const char *corpusFile;
    const char *nameOnDisk;
    int deviceFilter;
    Kind kind;
    Property property;
    const char *rule; // the codec rule that decided, or the extension told
    const char *detail; // a part of the detail the line must show
};

void PrintTo(const Case &c, std::ostream *os)
{
    *os << c.corpusFile << " as " << c.nameOnDisk << " with filter " << c.deviceFilter;
}

std::unique_ptr<PMFileValidator> validatorFor(int deviceFilter)
{
    PMMediaExtensionLists lists;
    lists.updateAll(true, true, true, true, deviceFilter);
    auto validator = std::make_unique<PMFileValidator>();
    validator->addContainerValidators(lists.mediaFileExtensions());
    return validator;
}

class FilterReasonTest : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override
    {
        if (!MediaCorpus::available())
            GTEST_SKIP() << MediaCorpus::unavailableReason().toStdString();
        ASSERT_TRUE(m_dir.isValid());
    }

    QTemporaryDir m_dir;
};

TEST_P(FilterReasonTest, TheReasonNamesTheRuleAndPropertyThatDecided)
{
    const Case &c = GetParam();
    const QString source = MediaCorpus::file(QString::fromLatin1(c.corpusFile));
    ASSERT_FALSE(source.isEmpty());
    const QString path = m_dir.filePath(QString::fromUtf8(c.nameOnDisk));
    ASSERT_TRUE(QFile::copy(source, path));
    const QString baseName = QString::fromUtf8(c.nameOnDisk);

    const auto owned = validatorFor(c.deviceFilter);
    const PMFileValidator &validator = *owned;
    PMFilterRefusal why;
    EXPECT_FALSE(validator.shouldCopyItem(path, baseName, false, nullptr, &why));
    EXPECT_FALSE(validator.shouldCopyItem(path, baseName, false, nullptr, nullptr));
    EXPECT_EQ(why.kind, c.kind) << why.text().toStdString();
    EXPECT_EQ(why.property, c.property) << why.text().toStdString();
    EXPECT_EQ(why.subject, QString::fromLatin1(c.rule)) << why.text().toStdString();
    EXPECT_TRUE(why.text().contains(QString::fromUtf8(c.detail))) << why.text().toStdString();
}

INSTANTIATE_TEST_SUITE_P(Media, FilterReasonTest,
    ::testing::Values(Case { "h264_1280x720_30.mp4", "clip.mp4", kAppleLow, Kind::CodecRule, Property::PictureSize,
                          "PMH264LowCodecValidator", "picture size 1280 x 720 over 640 x 480" },
        Case { "h264_1920x1080_30.mp4", "clip.m4v", kAppleHigh, Kind::CodecRule, Property::PictureSize,
            "PMH264HighCodecValidator", "1920 x 1080 over 1280 x 720" },
        Case { "h264_640x480_31.mp4", "clip.mov", kAppleLow, Kind::CodecRule, Property::FrameRate,
            "PMH264LowCodecValidator", "frame rate 31 fps over 30 fps" },
        Case { "h264_640x480_ac3.mp4", "clip.mp4", kKindleFire, Kind::CodecRule, Property::AudioCodec,
            "PMH264KindleFireCodecValidator", "audio codec AC-3 (14)" },
        Case { "h264_640x480_96k.mp4", "clip.mp4", kAppleHigh, Kind::CodecRule, Property::SampleRate,
            "PMH264HighCodecValidator", "sample rate 96000 Hz over 48000 Hz" },
        Case { "h264_640x480_6ch.mp4", "clip.mp4", kAppleLow, Kind::CodecRule, Property::Channels,
            "PMH264LowCodecValidator", "channels 6 over 2" },
        Case { "h264_640x480_30.mkv", "clip.mkv", kAppleLow, Kind::NameNotListed, Property::None, ".mkv",
            "extension not in the device class's list: .mkv" },
        // A name the lists take, with contents no rule of the entry speaks for.
        Case { "h263_176x144.mp4", "clip.mp4", kAppleLow, Kind::NoRuleForContents, Property::None, "",
            "video H.263 (16)" },
        Case { "text_named.mp4", "clip.mp4", kAppleLow, Kind::NoRuleForContents, Property::None, "",
            "not readable as media" }));

class FilterReasonLimitsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    // A sparse file of size bytes.
    QString sparseFile(const QString &name, qint64 size)
    {
        const QString path = m_dir.filePath(name);
        const int fd = ::open(QFile::encodeName(path).constData(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(::ftruncate(fd, size), 0);
        ::close(fd);
        return path;
    }

    QTemporaryDir m_dir;
};

TEST_F(FilterReasonLimitsTest, AFileOverTheFatLimitIsToldSoAndOneByteLessPasses)
{
    const auto validator = validatorFor(kAppleLow);
    const QString big = sparseFile(QStringLiteral("big.mp3"), PMFileValidator::kMaxSizeWith4GLimit + 1);
    const QString fits = sparseFile(QStringLiteral("fits.mp3"), PMFileValidator::kMaxSizeWith4GLimit);

    PMFilterRefusal why;
    EXPECT_FALSE(validator->shouldCopyItem(big, QStringLiteral("big.mp3"), true, nullptr, &why));
    EXPECT_EQ(why.kind, Kind::Over4G);
    EXPECT_TRUE(why.text().contains(QStringLiteral("4294967296 bytes"))) << why.text().toStdString();

    PMFilterRefusal none;
    EXPECT_TRUE(validator->shouldCopyItem(fits, QStringLiteral("fits.mp3"), true, nullptr, &none));
    EXPECT_FALSE(none.isSet());
    // Without the limit the big file goes.
    EXPECT_TRUE(validator->shouldCopyItem(big, QStringLiteral("big.mp3"), false, nullptr, &none));
}

TEST_F(FilterReasonLimitsTest, NamesTheSyncNeverCopiesAreToldAsSuch)
{
    const auto validator = validatorFor(0);
    const QString store = sparseFile(QStringLiteral(".DS_Store"), 10);
    const QString temporary = sparseFile(QStringLiteral(".d$f.song.mp3"), 10);

    PMFilterRefusal why;
    EXPECT_FALSE(validator->shouldCopyItem(store, QStringLiteral(".DS_Store"), false, nullptr, &why));
    EXPECT_EQ(why.kind, Kind::NeverSyncedName);
    EXPECT_EQ(why.text(), QStringLiteral("the name \".DS_Store\" is never synced"));
    EXPECT_FALSE(validator->shouldCopyItem(temporary, QStringLiteral(".d$f.song.mp3"), false, nullptr, &why));
    EXPECT_EQ(why.kind, Kind::TemporaryName);

    const PMFileValidator empty;
    EXPECT_FALSE(empty.shouldCopyItem(store, QStringLiteral("song.mp3"), false, nullptr, &why));
    EXPECT_EQ(why.kind, Kind::NoLists);
}

} // namespace
