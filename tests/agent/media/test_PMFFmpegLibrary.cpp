// FFmpeg opened at run time: nothing of it is in the process until a file is characterized,
// and libraries that are missing or incomplete make characterization answer "not opened"
// instead of failing.
#include "MediaCorpus.h"

#include "agent/media/PMFFmpegLibrary.h"
#include "agent/media/PMMediaCharacterizer.h"

#include "support/TestEnvironment.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

bool processHasLibraryMapped(const QString &namePart)
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly))
        return false;
    return QString::fromLocal8Bit(maps.readAll()).contains(namePart);
}

bool allFunctionsNull(const PMFFmpegLibrary &ffmpeg)
{
    return !ffmpeg.avformat_alloc_context && !ffmpeg.avformat_open_input && !ffmpeg.avformat_find_stream_info
        && !ffmpeg.avformat_close_input && !ffmpeg.av_dict_set && !ffmpeg.av_dict_set_int && !ffmpeg.av_dict_free
        && !ffmpeg.av_log_set_callback && !ffmpeg.av_log_format_line2;
}

TEST(PMFFmpegLibraryTest, librariesAreLoadedOnlyWhenAFileIsFirstCharacterized)
{
    // Each test runs in a process of its own under ctest; run by hand after another test of
    // this program, the libraries may be there already.
    if (processHasLibraryMapped(QStringLiteral("libavformat.so")))
        GTEST_SKIP() << "an earlier test in this process characterized a file";
    EXPECT_FALSE(processHasLibraryMapped(QStringLiteral("libavcodec.so")));
    EXPECT_FALSE(processHasLibraryMapped(QStringLiteral("libavutil.so")));

    QTemporaryDir folder;
    const QString notMedia = folder.filePath(QStringLiteral("notes.mp4"));
    testsupport::writeFile(notMedia, "plain text, not a movie");
    const MediaFileCharacterization c = PMMediaCharacterizer::characterizeFile(notMedia, 0);
    EXPECT_FALSE(c.opened);
    ASSERT_TRUE(PMFFmpegLibrary::shared().isLoaded()) << PMFFmpegLibrary::shared().errorString().toStdString();
    EXPECT_TRUE(processHasLibraryMapped(QStringLiteral("libavformat.so")));
}

TEST(PMFFmpegLibraryTest, missingOrIncompleteLibrariesLeaveFilesUnopened)
{
    if (!MediaCorpus::available())
        GTEST_SKIP() << MediaCorpus::unavailableReason().toStdString();
    const QString clip = MediaCorpus::file(QStringLiteral("h264_640x480_30.mp4"));
    ASSERT_FALSE(clip.isEmpty());

    const PMFFmpegLibrary real;
    ASSERT_TRUE(real.isLoaded()) << real.errorString().toStdString();
    EXPECT_TRUE(real.errorString().isEmpty());
    const MediaFileCharacterization good = PMMediaCharacterizer::characterizeFile(clip, 3, real);
    EXPECT_TRUE(good.opened);
    EXPECT_TRUE(good.hasVideo);

    const QStringList defaults = PMFFmpegLibrary::defaultLibraryNames();
    // A library that is not installed.
    const PMFFmpegLibrary missing({ defaults.first(), QStringLiteral("libavformat.so.999") });
    EXPECT_FALSE(missing.isLoaded());
    EXPECT_TRUE(missing.errorString().contains(QStringLiteral("libavformat.so.999")))
        << missing.errorString().toStdString();
    EXPECT_TRUE(allFunctionsNull(missing));
    // A real library that is not FFmpeg's: the functions cannot be found in it.
    const PMFFmpegLibrary wrong({ defaults.first(), QStringLiteral("libz.so.1") });
    EXPECT_FALSE(wrong.isLoaded());
    EXPECT_TRUE(wrong.errorString().contains(QStringLiteral("avformat_alloc_context")))
        << wrong.errorString().toStdString();
    EXPECT_TRUE(allFunctionsNull(wrong));

    for (const PMFFmpegLibrary *unusable : { &missing, &wrong }) {
        const MediaFileCharacterization c = PMMediaCharacterizer::characterizeFile(clip, 3, *unusable);
        EXPECT_FALSE(c.opened);
        EXPECT_FALSE(c.hasVideo);
        EXPECT_EQ(c.containerType, 3);
    }
}

} // namespace
