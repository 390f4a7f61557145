#include "agent/media/PMMediaCharacterizer.h"

#include "agent/media/PMFFmpegLibrary.h"
#include "agent/media/PMMediaCodecCodes.h"
#include "agent/media/PMMediaLog.h"
#include "agent/media/PMStreamSampleType.h"
#include "platform/FileNameCodec.h"

#include <QFile>

#include <chrono>
#include <cstdio>
#include <memory>
#include <numeric>
#include <vector>

#include <sys/stat.h>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/log.h>
}

namespace {

// Opening reads at most this much to recognise the container and its streams; the sample
// tables and codec headers the rules need lie well within it for the files devices play.
constexpr int kProbeBytes = 32 * 1024;
// A zero analysis window would mean FFmpeg's five-second default.
constexpr int kAnalyzeMicroseconds = 100 * 1000;
// A safety net only: no healthy file comes near it.
constexpr auto kOpenDeadline = std::chrono::seconds(10);
// The containers whose files a device rule can speak for (QuickTime opened these as movies);
// anything else recognised by content, like a raw stream or an image, is "not opened".
constexpr const char *kAcceptedDemuxers = "mov,mp4,m4a,3gp,3g2,mj2,avi,aac,mp3,wav,aiff,amr";

struct FormatContextCloser {
    const PMFFmpegLibrary *ffmpeg = nullptr;
    void operator()(AVFormatContext *context) const { ffmpeg->avformat_close_input(&context); }
};
using FormatContextPtr = std::unique_ptr<AVFormatContext, FormatContextCloser>;

struct DictionaryFree {
    const PMFFmpegLibrary *ffmpeg = nullptr;
    void operator()(AVDictionary *dictionary) const { ffmpeg->av_dict_free(&dictionary); }
};
using DictionaryPtr = std::unique_ptr<AVDictionary, DictionaryFree>;

struct Deadline {
    std::chrono::steady_clock::time_point end;
};

int interruptAtDeadline(void *opaque)
{
    const auto *deadline = static_cast<const Deadline *>(opaque);
    return std::chrono::steady_clock::now() > deadline->end ? 1 : 0;
}

// FFmpeg's diagnostics about damaged files are expected noise for a file filter: they go to
// the debug output of our category instead of standard error.
void routeFFmpegLog(void *avcl, int level, const char *format, va_list arguments)
{
    if (level > AV_LOG_WARNING || !lcMedia().isDebugEnabled())
        return;
    // Only ever called from inside the libraries, so they are loaded (under the same names).
    const PMFFmpegLibrary &ffmpeg = PMFFmpegLibrary::shared();
    if (!ffmpeg.isLoaded())
        return;
    char line[1024];
    int printPrefix = 1;
    ffmpeg.av_log_format_line2(avcl, level, format, arguments, line, sizeof line, &printPrefix);
    qCDebug(lcMedia).noquote() << "ffmpeg:" << QString::fromUtf8(line).trimmed();
}

void installFFmpegLogOnce(const PMFFmpegLibrary &ffmpeg)
{
    static std::once_flag once;
    std::call_once(once, [&ffmpeg] { ffmpeg.av_log_set_callback(routeFFmpegLog); });
}

FormatContextPtr openInput(const PMFFmpegLibrary &ffmpeg, const QString &path, Deadline &deadline)
{
    AVFormatContext *raw = ffmpeg.avformat_alloc_context();
    if (!raw)
        return FormatContextPtr(nullptr, FormatContextCloser { &ffmpeg });
    raw->interrupt_callback.callback = interruptAtDeadline;
    raw->interrupt_callback.opaque = &deadline;

    AVDictionary *options = nullptr;
    ffmpeg.av_dict_set_int(&options, "probesize", kProbeBytes, 0);
    ffmpeg.av_dict_set_int(&options, "formatprobesize", kProbeBytes, 0);
    ffmpeg.av_dict_set_int(&options, "analyzeduration", kAnalyzeMicroseconds, 0);
    ffmpeg.av_dict_set(&options, "format_whitelist", kAcceptedDemuxers, 0);
    // Only the local file: a playlist or reference movie must not make us open anything else.
    ffmpeg.av_dict_set(&options, "protocol_whitelist", "file", 0);
    DictionaryPtr optionsOwner(options, DictionaryFree { &ffmpeg });

    // The "file:" prefix keeps a name with a colon from being read as another protocol.
    const QByteArray url = "file:" + platform::FileNameCodec::encode(path);
    AVDictionary *remaining = optionsOwner.release();
    const int status = ffmpeg.avformat_open_input(&raw, url.constData(), nullptr, &remaining);
    optionsOwner.reset(remaining);
    if (status < 0) // avformat_open_input freed the context
        return FormatContextPtr(nullptr, FormatContextCloser { &ffmpeg });
    FormatContextPtr context(raw, FormatContextCloser { &ffmpeg });
    // The few frames decoded to learn the stream parameters are decoded on this thread: a
    // decoder's own thread pool costs more to start than the frames cost to decode.
    std::vector<DictionaryPtr> streamOptionOwners;
    std::vector<AVDictionary *> streamOptions;
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        AVDictionary *single = nullptr;
        ffmpeg.av_dict_set(&single, "threads", "1", 0);
        streamOptions.push_back(single);
    }
    const int infoStatus
        = ffmpeg.avformat_find_stream_info(context.get(), streamOptions.empty() ? nullptr : streamOptions.data());
    for (AVDictionary *remainingOptions : streamOptions)
        streamOptionOwners.emplace_back(remainingOptions, DictionaryFree { &ffmpeg });
    if (infoStatus < 0) {
        qCDebug(lcMedia) << "no stream information in" << path;
        return FormatContextPtr(nullptr, FormatContextCloser { &ffmpeg });
    }
    return context;
}

bool hasSampleDescription(const AVCodecParameters *parameters)
{
    return parameters->codec_id != AV_CODEC_ID_NONE || parameters->codec_tag != 0;
}

void reduce(qint64 &numerator, qint64 &denominator)
{
    const qint64 divisor = std::gcd(numerator, denominator);
    if (divisor > 1) {
        numerator /= divisor;
        denominator /= divisor;
    }
}

void fillFrameRate(const AVStream *stream, PMStreamSampleType::Container container, MediaFileCharacterization &c)
{
    qint64 numerator = 0;
    qint64 denominator = 0;
    // In MOV-family files the rate is the track's sample count over its duration in the media
    // time scale; elsewhere the sample count is often missing, and the average rate stands in.
    if (container == PMStreamSampleType::Container::MovFamily && stream->nb_frames > 0 && stream->duration > 0
        && stream->time_base.num > 0 && stream->time_base.den > 0 && stream->nb_frames < (qint64(1) << 31)
        && stream->duration < (qint64(1) << 31)) {
        numerator = stream->nb_frames * stream->time_base.den;
        denominator = stream->duration * stream->time_base.num;
    } else if (stream->avg_frame_rate.num > 0 && stream->avg_frame_rate.den > 0) {
        numerator = stream->avg_frame_rate.num;
        denominator = stream->avg_frame_rate.den;
    } else if (stream->r_frame_rate.num > 0 && stream->r_frame_rate.den > 0) {
        numerator = stream->r_frame_rate.num;
        denominator = stream->r_frame_rate.den;
    }
    if (denominator <= 0) {
        c.frameRate = 0.0f;
        c.frameRateNumerator = 0;
        c.frameRateDenominator = 0;
        return;
    }
    reduce(numerator, denominator);
    c.frameRateNumerator = numerator;
    c.frameRateDenominator = denominator;
    c.frameRate = float(double(numerator) / double(denominator));
}

} // namespace

PMMediaCharacterizer &PMMediaCharacterizer::shared()
{
    static PMMediaCharacterizer instance;
    return instance;
}

bool PMMediaCharacterizer::stampFile(const QString &path, FileStamp &stamp)
{
    struct stat sb = {};
    if (stat(platform::FileNameCodec::encode(path).constData(), &sb) != 0)
        return false;
    stamp.path = path;
    stamp.device = quint64(sb.st_dev);
    stamp.inode = quint64(sb.st_ino);
    stamp.size = qint64(sb.st_size);
    stamp.modifiedNs = qint64(sb.st_mtim.tv_sec) * 1000000000 + sb.st_mtim.tv_nsec;
    return true;
}

MediaFileCharacterization PMMediaCharacterizer::characterize(const QString &path, int containerType)
{
    FileStamp stamp;
    const bool stamped = stampFile(path, stamp);
    if (stamped) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_haveEntry && m_lastStamp == stamp) {
            MediaFileCharacterization record = m_lastRecord;
            record.containerType = containerType;
            return record;
        }
    }
    ++m_openCount;
    MediaFileCharacterization record = characterizeFile(path, containerType);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_haveEntry = stamped;
    m_lastStamp = stamp;
    m_lastRecord = record;
    return record;
}

void PMMediaCharacterizer::clearCache()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_haveEntry = false;
    m_lastStamp = FileStamp();
}

MediaFileCharacterization PMMediaCharacterizer::characterizeFile(const QString &path, int containerType)
{
    return characterizeFile(path, containerType, PMFFmpegLibrary::shared());
}

MediaFileCharacterization PMMediaCharacterizer::characterizeFile(
    const QString &path, int containerType, const PMFFmpegLibrary &ffmpeg)
{
    MediaFileCharacterization c;
    c.reset(containerType);
    // Without the libraries nothing can be read: the file counts as one that does not open,
    // like a damaged one (the reason was logged when loading failed).
    if (!ffmpeg.isLoaded())
        return c;
    installFFmpegLogOnce(ffmpeg);

    Deadline deadline { std::chrono::steady_clock::now() + kOpenDeadline };
    const FormatContextPtr context = openInput(ffmpeg, path, deadline);
    if (!context) {
        qCDebug(lcMedia) << "cannot open as a movie:" << path;
        return c;
    }
    c.opened = true;
    if (context->duration != AV_NOPTS_VALUE && context->duration > 0)
        c.duration = float(double(context->duration) / AV_TIME_BASE);

    const auto container = PMStreamSampleType::containerForDemuxer(context->iformat->name);
    int soundTracks = 0;
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        const AVStream *stream = context->streams[i];
        const AVCodecParameters *parameters = stream->codecpar;
        // Only MOV-family files carry a track-enabled flag (FFmpeg shows it as "default").
        const bool enabled
            = container != PMStreamSampleType::Container::MovFamily || (stream->disposition & AV_DISPOSITION_DEFAULT);
        if (parameters->codec_type == AVMEDIA_TYPE_VIDEO) {
            // Cover art is metadata, not a track; a chapter-image track is a real one.
            if ((stream->disposition & AV_DISPOSITION_ATTACHED_PIC)
                && !(stream->disposition & AV_DISPOSITION_TIMED_THUMBNAILS))
                continue;
            if (!enabled)
                continue;
            c.hasVideo = true;
            if (!hasSampleDescription(parameters))
                continue;
            c.width = parameters->width;
            c.height = parameters->height;
            c.videoCodec = PMMediaCodecCodes::videoCodeForType(
                PMStreamSampleType::videoType(parameters->codec_id, parameters->codec_tag, container));
            fillFrameRate(stream, container, c);
        } else if (parameters->codec_type == AVMEDIA_TYPE_AUDIO) {
            ++soundTracks;
            if (!enabled || !hasSampleDescription(parameters))
                continue;
            if (c.audioCount >= MediaFileCharacterization::kMaxAudioEntries)
                continue;
            MediaFileAudioEntry &entry = c.audio[std::size_t(c.audioCount++)];
            entry.codec = PMMediaCodecCodes::audioCodeForType(
                PMStreamSampleType::audioType(parameters->codec_id, parameters->codec_tag, container));
            entry.sampleRate = float(qMax(0, parameters->sample_rate));
            entry.channels = qMax(0, parameters->ch_layout.nb_channels);
        }
    }
    c.hasAudio = soundTracks > 0;
    return c;
}
