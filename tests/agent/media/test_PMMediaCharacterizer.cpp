// Characterization of real media files made with ffmpeg: what each container and codec reads
// back as, damaged and misnamed files, the one-entry cache, and several workers at once.
#include "MediaCorpus.h"

#include "agent/media/PMMediaCharacterizer.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <random>
#include <thread>

namespace {

struct AudioExpectation {
    int codec;
    int sampleRate;
    int channels;
};

struct Expectation {
    const char *file = nullptr;
    bool opened = false;
    bool hasVideo = false;
    int videoCodec = 0;
    int width = 0;
    int height = 0;
    qint64 rateNumerator = 0; // 0: not checked
    qint64 rateDenominator = 0;
    bool hasAudio = false;
    std::vector<AudioExpectation> audio {};
};

void PrintTo(const Expectation &e, std::ostream *os)
{
    *os << e.file;
}

class CharacterizationTest : public ::testing::TestWithParam<Expectation> {
protected:
    void SetUp() override
    {
        if (!MediaCorpus::available())
            GTEST_SKIP() << MediaCorpus::unavailableReason().toStdString();
    }
};

TEST_P(CharacterizationTest, readsTheFactsTheRulesNeed)
{
    const Expectation &e = GetParam();
    const QString path = MediaCorpus::file(QString::fromLatin1(e.file));
    ASSERT_FALSE(path.isEmpty());
    const MediaFileCharacterization c = PMMediaCharacterizer::characterizeFile(path, 7);
    EXPECT_EQ(c.containerType, 7);
    ASSERT_EQ(c.opened, e.opened);
    if (!e.opened) {
        EXPECT_FALSE(c.hasVideo);
        EXPECT_FALSE(c.hasAudio);
        EXPECT_EQ(c.audioCount, 0);
        return;
    }
    EXPECT_GT(c.duration, 0.2f); // cut files keep part of their length
    EXPECT_LT(c.duration, 1.6f);
    EXPECT_EQ(c.hasVideo, e.hasVideo);
    if (e.hasVideo) {
        EXPECT_EQ(c.videoCodec, e.videoCodec);
        EXPECT_EQ(c.width, e.width);
        EXPECT_EQ(c.height, e.height);
        if (e.rateNumerator) {
            EXPECT_EQ(c.frameRateNumerator, e.rateNumerator);
            EXPECT_EQ(c.frameRateDenominator, e.rateDenominator);
            EXPECT_FLOAT_EQ(c.frameRate, float(double(e.rateNumerator) / double(e.rateDenominator)));
        }
    }
    EXPECT_EQ(c.hasAudio, e.hasAudio);
    ASSERT_EQ(c.audioCount, int(e.audio.size()));
    for (std::size_t i = 0; i < e.audio.size(); ++i) {
        EXPECT_EQ(c.audio[i].codec, e.audio[i].codec) << "audio entry " << i;
        EXPECT_EQ(c.audio[i].sampleRate, float(e.audio[i].sampleRate)) << "audio entry " << i;
        EXPECT_EQ(c.audio[i].channels, e.audio[i].channels) << "audio entry " << i;
    }
}

const AudioExpectation kAAC { 1, 44100, 2 };

INSTANTIATE_TEST_SUITE_P(Corpus, CharacterizationTest,
    ::testing::Values(Expectation { "h264_640x480_30.mp4", true, true, 1, 640, 480, 30, 1, true, { kAAC } },
        Expectation { "h264_640x480_2997.mp4", true, true, 1, 640, 480, 30000, 1001, true, { kAAC } },
        Expectation { "h264_1280x720_30.mp4", true, true, 1, 1280, 720, 30, 1, true, { kAAC } },
        Expectation { "h264_1280x720_3001.mp4", true, true, 1, 1280, 720, 3001, 100, true, { kAAC } },
        Expectation { "h264_640x480_ac3.mp4", true, true, 1, 640, 480, 30, 1, true, { { 14, 48000, 2 } } },
        Expectation { "h264_640x480_6ch.mp4", true, true, 1, 640, 480, 30, 1, true, { { 1, 44100, 6 } } },
        Expectation { "h264_640x480_96k.mp4", true, true, 1, 640, 480, 30, 1, true, { { 1, 96000, 2 } } },
        Expectation { "h264_640x480_mp3.mp4", true, true, 1, 640, 480, 30, 1, true, { { 2, 44100, 2 } } },
        Expectation { "h264_640x480_silent.mp4", true, true, 1, 640, 480, 30, 1, false, {} },
        Expectation { "h264_disabled_720p_enabled_vga.mp4", true, true, 1, 640, 480, 30, 1, true, { kAAC } },
        Expectation { "mpeg4_640x480.mp4", true, true, 2, 640, 480, 30, 1, true, { kAAC } },
        Expectation { "mpeg4_640x480.m4v", true, true, 2, 640, 480, 30, 1, true, { kAAC } },
        Expectation { "mpeg4_640x480.mov", true, true, 2, 640, 480, 30, 1, true, { kAAC } },
        Expectation { "h263_176x144.3gp", true, true, 16, 176, 144, 15, 1, true, { { 1, 44100, 1 } } },
        Expectation { "h263_176x144.mp4", true, true, 16, 176, 144, 15, 1, true, { { 1, 44100, 1 } } },
        Expectation { "mjpeg_dmb1_ulaw.avi", true, true, 3, 640, 480, 30, 1, true, { { 7, 44100, 2 } } },
        Expectation { "mjpeg_dmb1_ulaw_6ch.avi", true, true, 3, 640, 480, 30, 1, true, { { 7, 44100, 6 } } },
        Expectation { "mjpeg_640x480_alaw.mov", true, true, 12, 640, 480, 30, 1, true, { { 8, 44100, 2 } } },
        Expectation { "aac_stereo.m4a", true, false, 0, 0, 0, 0, 0, true, { kAAC } },
        Expectation { "aac_96k.m4a", true, false, 0, 0, 0, 0, 0, true, { { 1, 96000, 2 } } },
        Expectation { "alac.m4a", true, false, 0, 0, 0, 0, 0, true, { { 3, 44100, 2 } } },
        Expectation { "ac3.m4a", true, false, 0, 0, 0, 0, 0, true, { { 14, 48000, 2 } } },
        Expectation { "ima4.mov", true, false, 0, 0, 0, 0, 0, true, { { 11, 44100, 2 } } },
        Expectation { "adts.aac", true, false, 0, 0, 0, 0, 0, true, { kAAC } },
        Expectation { "mp3_named.aac", true, false, 0, 0, 0, 0, 0, true, { { 2, 44100, 2 } } },
        Expectation { "aac_cover.m4a", true, false, 0, 0, 0, 0, 0, true, { kAAC } },
        Expectation { "h264_aac.m4a", true, true, 1, 320, 240, 30, 1, true, { kAAC } },
        Expectation { "book_png.m4b", true, true, 20, 320, 240, 0, 0, true, { kAAC } },
        Expectation { "h264_faststart.mp4", true, true, 1, 640, 480, 30, 1, true, { kAAC } },
        Expectation { "truncated_faststart.mp4", true, true, 1, 640, 480, 0, 0, true, { kAAC } },
        Expectation { "truncated.avi", true, true, 3, 640, 480, 0, 0, true, { { 7, 44100, 2 } } },
        Expectation { "truncated_moov_at_end.mp4", false, false, 0, 0, 0, 0, 0, false, {} },
        Expectation { "empty.mp4", false, false, 0, 0, 0, 0, 0, false, {} },
        Expectation { "text_named.mp4", false, false, 0, 0, 0, 0, 0, false, {} },
        Expectation { "raw_h264_named.mp4", false, false, 0, 0, 0, 0, 0, false, {} },
        Expectation { "h264_640x480_30.mkv", false, false, 0, 0, 0, 0, 0, false, {} }),
    [](const ::testing::TestParamInfo<Expectation> &param) {
        std::string name = param.param.file;
        for (char &c : name)
            if (!std::isalnum(static_cast<unsigned char>(c)))
                c = '_';
        return name;
    });

class CharacterizerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!MediaCorpus::available())
            GTEST_SKIP() << MediaCorpus::unavailableReason().toStdString();
        ASSERT_TRUE(m_dir.isValid());
    }

    QString copyOf(const char *corpusName, const QString &as)
    {
        const QString source = MediaCorpus::file(QString::fromLatin1(corpusName));
        const QString target = m_dir.filePath(as);
        QFile::remove(target);
        EXPECT_TRUE(QFile::copy(source, target));
        return target;
    }

    QTemporaryDir m_dir;
};

TEST_F(CharacterizerTest, aMissingFileIsNotOpened)
{
    const MediaFileCharacterization c = PMMediaCharacterizer::characterizeFile(m_dir.filePath("none.mp4"), 0);
    EXPECT_FALSE(c.opened);
    EXPECT_FALSE(c.hasAudio);
}

TEST_F(CharacterizerTest, namesWithColonsAreFilesNotProtocols)
{
    const QString path = copyOf("aac_stereo.m4a", QStringLiteral("concat:evil|x.m4a"));
    EXPECT_TRUE(PMMediaCharacterizer::characterizeFile(path, 0).opened);
}

TEST_F(CharacterizerTest, theLastFileIsReadOnceUntilItChanges)
{
    PMMediaCharacterizer characterizer;
    const QString path = copyOf("h264_640x480_ac3.mp4", QStringLiteral("clip.mp4"));
    const MediaFileCharacterization first = characterizer.characterize(path, 1);
    EXPECT_EQ(characterizer.openCount(), 1u);
    const MediaFileCharacterization second = characterizer.characterize(path, 2);
    EXPECT_EQ(characterizer.openCount(), 1u);
    EXPECT_EQ(second.containerType, 2) << "the asker's container code, even from the cache";
    EXPECT_EQ(second.audio[0].codec, first.audio[0].codec);

    // Another file in between evicts the single entry.
    const QString other = copyOf("aac_stereo.m4a", QStringLiteral("song.m4a"));
    characterizer.characterize(other, 0);
    characterizer.characterize(path, 0);
    EXPECT_EQ(characterizer.openCount(), 3u);

    // The same name with new content is read again.
    ASSERT_TRUE(QFile::remove(path));
    ASSERT_TRUE(QFile::copy(MediaCorpus::file(QStringLiteral("alac.m4a")), path));
    const MediaFileCharacterization replaced = characterizer.characterize(path, 0);
    EXPECT_EQ(characterizer.openCount(), 4u);
    EXPECT_FALSE(replaced.hasVideo);
    EXPECT_EQ(replaced.audio[0].codec, 3);

    characterizer.clearCache();
    characterizer.characterize(path, 0);
    EXPECT_EQ(characterizer.openCount(), 5u);
}

TEST_F(CharacterizerTest, workersCharacterizeAtTheSameTimeWithTheSameResults)
{
    const char *names[] = { "h264_640x480_30.mp4", "mjpeg_dmb1_ulaw.avi", "aac_stereo.m4a", "h263_176x144.3gp",
        "book_png.m4b", "adts.aac" };
    std::vector<QString> paths;
    std::vector<MediaFileCharacterization> expected;
    for (const char *name : names) {
        paths.push_back(MediaCorpus::file(QString::fromLatin1(name)));
        expected.push_back(PMMediaCharacterizer::characterizeFile(paths.back(), 0));
    }
    PMMediaCharacterizer shared;
    std::atomic<int> mismatches { 0 };
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t) {
        workers.emplace_back([&, t] {
            for (int round = 0; round < 10; ++round) {
                const std::size_t i = std::size_t(t + round) % paths.size();
                const MediaFileCharacterization c = shared.characterize(paths[i], 0);
                if (c.opened != expected[i].opened || c.videoCodec != expected[i].videoCodec
                    || c.width != expected[i].width || c.audioCount != expected[i].audioCount
                    || c.audio[0].codec != expected[i].audio[0].codec)
                    ++mismatches;
            }
        });
    }
    for (std::thread &worker : workers)
        worker.join();
    EXPECT_EQ(mismatches.load(), 0);
}

// Damaged copies of every kind of container: cut at many points and with bytes overwritten.
// Each must come back as a sane record (under the sanitizers, without a memory error).
TEST_F(CharacterizerTest, damagedFilesNeverCrashAndGiveSaneRecords)
{
    std::mt19937 random(20130303);
    int opened = 0;
    int total = 0;
    for (const char *name : { "h264_640x480_30.mp4", "h264_faststart.mp4", "mjpeg_dmb1_ulaw.avi", "aac_stereo.m4a",
             "h263_176x144.3gp", "book_png.m4b", "adts.aac", "mjpeg_640x480_alaw.mov" }) {
        QFile source(MediaCorpus::file(QString::fromLatin1(name)));
        ASSERT_TRUE(source.open(QIODevice::ReadOnly));
        const QByteArray original = source.readAll();
        std::vector<QByteArray> variants;
        for (int cut = 1; cut <= 12; ++cut)
            variants.push_back(original.left(original.size() * cut / 13));
        for (int round = 0; round < 24; ++round) {
            QByteArray damaged = original;
            // Mostly the header region, where the structure lives.
            const int span = round % 2 ? int(damaged.size()) : std::min<int>(int(damaged.size()), 4096);
            for (int flips = 0; flips < 8; ++flips)
                damaged[int(random() % unsigned(span))] = char(random() & 0xFF);
            variants.push_back(damaged);
        }
        for (const QByteArray &bytes : variants) {
            const QString path = m_dir.filePath(QStringLiteral("damaged-%1").arg(QString::fromLatin1(name)));
            QFile out(path);
            ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
            out.write(bytes);
            out.close();
            const MediaFileCharacterization c = PMMediaCharacterizer::characterizeFile(path, 0);
            ++total;
            opened += c.opened ? 1 : 0;
            EXPECT_GE(c.audioCount, 0);
            EXPECT_LE(c.audioCount, MediaFileCharacterization::kMaxAudioEntries);
            EXPECT_GE(c.width, 0);
            EXPECT_GE(c.height, 0);
            if (!c.opened) {
                EXPECT_FALSE(c.hasVideo);
                EXPECT_EQ(c.audioCount, 0);
            }
        }
    }
    EXPECT_GT(opened, 0);
    EXPECT_LT(opened, total);
}

TEST_F(CharacterizerTest, boxSizesThatLieAreRefusedQuickly)
{
    // An "ftyp" box followed by a "moov" box claiming far more bytes than the file holds.
    QByteArray bytes = QByteArray::fromHex("000000186674797069736f6d0000020069736f6d6d703432");
    bytes += QByteArray::fromHex("7fffffff6d6f6f76");
    bytes += QByteArray::fromHex("ffffffff7472616b");
    bytes += QByteArray(64, '\xff');
    const QString path = m_dir.filePath(QStringLiteral("liar.mp4"));
    QFile out(path);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(bytes);
    out.close();
    const MediaFileCharacterization c = PMMediaCharacterizer::characterizeFile(path, 0);
    EXPECT_FALSE(c.hasVideo);
    EXPECT_EQ(c.audioCount, 0);
}

} // namespace
