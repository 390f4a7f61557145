// The few FFmpeg functions media characterization uses, resolved at run time from
// libavutil, libavcodec and libavformat. The agent links nothing from FFmpeg: its ~140
// dependent libraries would be loaded at every start-up, also by syncs whose device filter
// never looks inside a file. The libraries are opened the first time a file is characterized.
//
//   const PMFFmpegLibrary &ffmpeg = PMFFmpegLibrary::shared();
//   if (!ffmpeg.isLoaded()) ...;                  // the reason was logged once
//   AVFormatContext *context = ffmpeg.avformat_alloc_context();
//
// The sonames are the ones of the headers this was built with, so the structure layouts the
// caller reads match the loaded code. shared() is thread-safe and loads at most once; an
// instance is immutable after construction and its functions may be called from any thread
// (FFmpeg is safe with one context per thread). Handles are closed with the instance, but
// libraries once opened stay mapped until the process ends (they are not made to be unloaded).
#pragma once

#include <QString>
#include <QStringList>

#include <cstdarg>
#include <cstdint>
#include <memory>
#include <vector>

struct AVCodecParameters;
struct AVDictionary;
struct AVFormatContext;
struct AVInputFormat;

class PMFFmpegLibrary {
public:
    // The shared instance, loaded from the default sonames on first use.
    static const PMFFmpegLibrary &shared();
    // "libavutil.so.57", "libavcodec.so.59", "libavformat.so.59" for FFmpeg 5.1, in the order
    // they must be opened (each needs the ones before it).
    static QStringList defaultLibraryNames();

    // Opens the given libraries in order (the last one must be libavformat's, the first
    // libavutil's) and resolves the functions; isLoaded() tells whether that all worked.
    explicit PMFFmpegLibrary(const QStringList &libraryNames = defaultLibraryNames());
    ~PMFFmpegLibrary();
    PMFFmpegLibrary(const PMFFmpegLibrary &) = delete;
    PMFFmpegLibrary &operator=(const PMFFmpegLibrary &) = delete;

    bool isLoaded() const { return m_loaded; }
    // Why loading failed; empty when it worked.
    QString errorString() const { return m_error; }

    // libavformat
    AVFormatContext *(*avformat_alloc_context)() = nullptr;
    int (*avformat_open_input)(AVFormatContext **, const char *, const AVInputFormat *, AVDictionary **) = nullptr;
    int (*avformat_find_stream_info)(AVFormatContext *, AVDictionary **) = nullptr;
    void (*avformat_close_input)(AVFormatContext **) = nullptr;
    // libavutil
    int (*av_dict_set)(AVDictionary **, const char *, const char *, int) = nullptr;
    int (*av_dict_set_int)(AVDictionary **, const char *, int64_t, int) = nullptr;
    void (*av_dict_free)(AVDictionary **) = nullptr;
    void (*av_log_set_callback)(void (*)(void *, int, const char *, va_list)) = nullptr;
    int (*av_log_format_line2)(void *, int, const char *, va_list, char *, int, int *) = nullptr;

private:
    struct HandleCloser {
        void operator()(void *handle) const;
    };
    using Handle = std::unique_ptr<void, HandleCloser>;

    bool load(const QStringList &libraryNames);
    template<typename Function> bool resolve(void *handle, const char *name, Function &function);

    std::vector<Handle> m_handles;
    bool m_loaded = false;
    QString m_error;
};
