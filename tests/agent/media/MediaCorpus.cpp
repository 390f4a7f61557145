#include "MediaCorpus.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <map>

namespace MediaCorpus {

namespace {

QStringList video(const QString &size, const QString &rate)
{
    return { QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
        QStringLiteral("testsrc=size=%1:rate=%2:duration=1").arg(size, rate) };
}

QStringList sine(int rate = 44100)
{
    return { QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
        QStringLiteral("sine=frequency=440:sample_rate=%1:duration=1").arg(rate) };
}

QStringList args(std::initializer_list<QStringList> parts)
{
    QStringList all;
    for (const QStringList &part : parts)
        all += part;
    return all;
}

QStringList split(const char *text)
{
    return QString::fromLatin1(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

// A recipe: ffmpeg arguments up to (not including) the output name; or a derivation from another
// corpus file (cut to a fraction of its size), or literal bytes.
struct Recipe {
    QStringList ffmpeg;
    QString derivedFrom;
    double keepFraction = 1.0;
    QByteArray bytes;
    bool literal = false;
};

const std::map<QString, Recipe> &recipes()
{
    static const std::map<QString, Recipe> table = [] {
        std::map<QString, Recipe> r;
        const QStringList x264 = split("-c:v libx264 -preset ultrafast -pix_fmt yuv420p");
        const QStringList aac = split("-c:a aac -ac 2");
        // H.264 in MP4 at the sizes and rates the Apple limits speak of.
        r[QStringLiteral("h264_640x480_30.mp4")].ffmpeg
            = args({ video("640x480", "30"), sine(), x264, aac, split("-f mp4") });
        r[QStringLiteral("h264_640x480_2997.mp4")].ffmpeg
            = args({ video("640x480", "30000/1001"), sine(), x264, aac, split("-f mp4") });
        r[QStringLiteral("h264_1280x720_30.mp4")].ffmpeg
            = args({ video("1280x720", "30"), sine(), x264, aac, split("-f mp4") });
        r[QStringLiteral("h264_1280x720_3001.mp4")].ffmpeg
            = args({ video("1280x720", "3001/100"), sine(), x264, aac, split("-f mp4") });
        r[QStringLiteral("h264_640x480_31.mp4")].ffmpeg
            = args({ video("640x480", "31"), sine(), x264, aac, split("-f mp4") });
        r[QStringLiteral("h264_1920x1080_30.mp4")].ffmpeg
            = args({ video("1920x1080", "30"), sine(), x264, aac, split("-f mp4") });
        r[QStringLiteral("h264_640x480_ac3.mp4")].ffmpeg
            = args({ video("640x480", "30"), sine(48000), x264, split("-c:a ac3 -ac 2 -f mp4") });
        r[QStringLiteral("h264_640x480_6ch.mp4")].ffmpeg
            = args({ video("640x480", "30"), sine(), x264, split("-c:a aac -ac 6 -f mp4") });
        r[QStringLiteral("h264_640x480_96k.mp4")].ffmpeg
            = args({ video("640x480", "30"), sine(96000), x264, split("-c:a aac -ac 2 -f mp4") });
        r[QStringLiteral("h264_640x480_mp3.mp4")].ffmpeg
            = args({ video("640x480", "30"), sine(), x264, split("-c:a libmp3lame -ac 2 -f mp4") });
        r[QStringLiteral("h264_640x480_silent.mp4")].ffmpeg
            = args({ video("640x480", "30"), x264, split("-an -f mp4") });
        r[QStringLiteral("h264_640x480_30.mkv")].ffmpeg
            = args({ video("640x480", "30"), sine(), x264, aac, split("-f matroska") });
        // The first video track disabled (too large for the low limits), the second enabled.
        r[QStringLiteral("h264_disabled_720p_enabled_vga.mp4")].ffmpeg
            = args({ video("1280x720", "30"), video("640x480", "30"), sine(), split("-map 0:v -map 1:v -map 2:a"), x264,
                aac, split("-disposition:v:0 0 -disposition:v:1 default -f mp4") });
        // MPEG-4 Part 2 in the three MPEG-4 containers.
        for (const char *suffix : { "mp4", "m4v", "mov" })
            r[QStringLiteral("mpeg4_640x480.%1").arg(QLatin1String(suffix))].ffmpeg = args({ video("640x480", "30"),
                sine(), split("-c:v mpeg4"), aac,
                { QStringLiteral("-f"),
                    QLatin1String(suffix) == QLatin1String("m4v") ? QStringLiteral("ipod") : QLatin1String(suffix) } });
        // H.263: 3GPP writes "s263"; the QuickTime muxer writes "h263" (MP4 proper refuses it).
        r[QStringLiteral("h263_176x144.3gp")].ffmpeg
            = args({ video("176x144", "15"), sine(), split("-c:v h263 -c:a aac -ac 1 -f 3gp") });
        r[QStringLiteral("h263_176x144.mp4")].ffmpeg
            = args({ video("176x144", "15"), sine(), split("-c:v h263 -c:a aac -ac 1 -f mov") });
        // Motion-JPEG: "dmb1" in AVI with u-law audio, "jpeg" in a QuickTime movie.
        r[QStringLiteral("mjpeg_dmb1_ulaw.avi")].ffmpeg
            = args({ video("640x480", "30"), sine(), split("-c:v mjpeg -vtag dmb1 -c:a pcm_mulaw -ac 2 -f avi") });
        r[QStringLiteral("mjpeg_dmb1_ulaw_6ch.avi")].ffmpeg
            = args({ video("640x480", "30"), sine(), split("-c:v mjpeg -vtag dmb1 -c:a pcm_mulaw -ac 6 -f avi") });
        r[QStringLiteral("mjpeg_dmb1_aac.avi")].ffmpeg
            = args({ video("640x480", "30"), sine(), split("-c:v mjpeg -vtag dmb1 -c:a aac -ac 2 -f avi") });
        r[QStringLiteral("mjpeg_640x480_alaw.mov")].ffmpeg
            = args({ video("640x480", "30"), sine(), split("-c:v mjpeg -c:a pcm_alaw -ac 2 -f mov") });
        // Music.
        r[QStringLiteral("aac_stereo.m4a")].ffmpeg = args({ sine(), split("-c:a aac -ac 2 -f ipod") });
        r[QStringLiteral("aac_96k.m4a")].ffmpeg = args({ sine(96000), split("-c:a aac -ac 2 -f ipod") });
        r[QStringLiteral("alac.m4a")].ffmpeg = args({ sine(), split("-c:a alac -ac 2 -f ipod") });
        r[QStringLiteral("ac3.m4a")].ffmpeg = args({ sine(48000), split("-c:a ac3 -ac 2 -f mp4") });
        r[QStringLiteral("ima4.mov")].ffmpeg = args({ sine(), split("-c:a adpcm_ima_qt -ac 2 -f mov") });
        r[QStringLiteral("adts.aac")].ffmpeg = args({ sine(), split("-c:a aac -ac 2 -f adts") });
        r[QStringLiteral("mp3_named.aac")].ffmpeg = args({ sine(), split("-c:a libmp3lame -ac 2 -f mp3") });
        r[QStringLiteral("h264_aac.m4a")].ffmpeg
            = args({ video("320x240", "30"), sine(), x264, split("-c:a aac -ac 2 -f ipod") });
        // Cover art attached to an audio file: metadata, not a video track.
        r[QStringLiteral("aac_cover.m4a")].ffmpeg = args({ sine(), video("160x120", "1"),
            split("-map 0:a -map 1:v -frames:v 1 -c:a aac -ac 2 -c:v png "
                  "-disposition:v attached_pic -f ipod") });
        // An audio book with a PNG picture track next to its AAC audio.
        r[QStringLiteral("book_png.m4b")].ffmpeg
            = args({ sine(), video("320x240", "1"), split("-map 0:a -map 1:v -c:a aac -ac 2 -c:v png -f mov") });
        // Damaged and misnamed files.
        r[QStringLiteral("h264_moov_at_end.mp4")].ffmpeg
            = args({ video("640x480", "30"), sine(), x264, aac, split("-f mp4") });
        r[QStringLiteral("h264_faststart.mp4")].ffmpeg
            = args({ video("640x480", "30"), sine(), x264, aac, split("-movflags +faststart -f mp4") });
        r[QStringLiteral("raw_h264_named.mp4")].ffmpeg = args({ video("640x480", "30"), x264, split("-f h264") });
        r[QStringLiteral("truncated_moov_at_end.mp4")] = { {}, QStringLiteral("h264_moov_at_end.mp4"), 0.5, {}, false };
        r[QStringLiteral("truncated_faststart.mp4")] = { {}, QStringLiteral("h264_faststart.mp4"), 0.6, {}, false };
        r[QStringLiteral("truncated.avi")] = { {}, QStringLiteral("mjpeg_dmb1_ulaw.avi"), 0.5, {}, false };
        r[QStringLiteral("empty.mp4")] = { {}, {}, 1.0, QByteArray(), true };
        r[QStringLiteral("text_named.mp4")]
            = { {}, {}, 1.0, QByteArrayLiteral("This is a letter, not a movie.\n"), true };
        return r;
    }();
    return table;
}

bool run(const QStringList &arguments, QString &error)
{
    QProcess process;
    process.setProgram(QStringLiteral("ffmpeg"));
    process.setArguments(arguments);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start();
    if (!process.waitForStarted(30000)) {
        error = QStringLiteral("ffmpeg did not start");
        return false;
    }
    process.waitForFinished(120000);
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        error = QString::fromLocal8Bit(process.readAll());
        return false;
    }
    return true;
}

bool writeAtomically(const QString &target, const QByteArray &bytes)
{
    const QString temporary = target + QStringLiteral(".part-%1").arg(QCoreApplication::applicationPid());
    QFile file(temporary);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return false;
    file.close();
    return QFile::rename(temporary, target) || QFile::exists(target);
}

} // namespace

QString directory()
{
    return QStringLiteral(PM_MEDIA_CORPUS_DIR);
}

bool available()
{
    return !QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty();
}

QString unavailableReason()
{
    return QStringLiteral("the ffmpeg command is not installed (Debian package \"ffmpeg\"), so no test media "
                          "can be made");
}

QStringList names()
{
    QStringList all;
    for (const auto &[name, recipe] : recipes())
        all << name;
    return all;
}

QString file(const QString &name)
{
    const auto found = recipes().find(name);
    if (found == recipes().end()) {
        ADD_FAILURE() << "no corpus recipe named " << name.toStdString();
        return QString();
    }
    const Recipe &recipe = found->second;
    // The recipe is part of the cached name, so a changed recipe makes a new file.
    const QByteArray recipeKey
        = (recipe.ffmpeg.join(QLatin1Char(' ')) + recipe.derivedFrom + QString::number(recipe.keepFraction)).toUtf8()
        + recipe.bytes;
    const QString tag
        = QString::fromLatin1(QCryptographicHash::hash(recipeKey, QCryptographicHash::Sha1).toHex().left(8));
    QDir().mkpath(directory());
    const QString target = directory() + QLatin1Char('/') + tag + QLatin1Char('-') + name;
    if (QFile::exists(target))
        return target;
    if (recipe.literal)
        return writeAtomically(target, recipe.bytes) ? target : QString();
    if (!recipe.derivedFrom.isEmpty()) {
        const QString source = file(recipe.derivedFrom);
        QFile in(source);
        if (source.isEmpty() || !in.open(QIODevice::ReadOnly))
            return QString();
        const QByteArray bytes = in.readAll();
        return writeAtomically(target, bytes.left(qsizetype(double(bytes.size()) * recipe.keepFraction))) ? target
                                                                                                          : QString();
    }
    if (!available())
        return QString();
    // Made under a private name and renamed, so a parallel test process never sees half a file.
    const QString temporary = target + QStringLiteral(".part-%1").arg(QCoreApplication::applicationPid());
    QString error;
    QStringList arguments
        = { QStringLiteral("-nostdin"), QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y") };
    arguments += recipe.ffmpeg;
    arguments << temporary;
    if (!run(arguments, error)) {
        ADD_FAILURE() << "ffmpeg could not make " << name.toStdString() << ": " << error.toStdString();
        QFile::remove(temporary);
        return QString();
    }
    if (!QFile::rename(temporary, target) && !QFile::exists(target))
        return QString();
    QFile::remove(temporary);
    return target;
}

} // namespace MediaCorpus
