#include "agent/media/PMFFmpegLibrary.h"

#include "agent/log/PMAgentLog.h"
#include "agent/media/PMMediaLog.h"

#include <QFile>

#include <dlfcn.h>

#include <type_traits>

extern "C" {
#include <libavcodec/version.h>
#include <libavformat/avformat.h>
#include <libavformat/version.h>
#include <libavutil/dict.h>
#include <libavutil/log.h>
#include <libavutil/version.h>
}

// The pointers must have exactly the types of the functions in the headers built against.
#define PM_CHECK_FFMPEG_TYPE(name)                                                                                     \
    static_assert(std::is_same_v<decltype(PMFFmpegLibrary::name), decltype(&::name)>, #name " has another type")
PM_CHECK_FFMPEG_TYPE(avformat_alloc_context);
PM_CHECK_FFMPEG_TYPE(avformat_open_input);
PM_CHECK_FFMPEG_TYPE(avformat_find_stream_info);
PM_CHECK_FFMPEG_TYPE(avformat_close_input);
PM_CHECK_FFMPEG_TYPE(av_dict_set);
PM_CHECK_FFMPEG_TYPE(av_dict_set_int);
PM_CHECK_FFMPEG_TYPE(av_dict_free);
PM_CHECK_FFMPEG_TYPE(av_log_set_callback);
PM_CHECK_FFMPEG_TYPE(av_log_format_line2);
#undef PM_CHECK_FFMPEG_TYPE

void PMFFmpegLibrary::HandleCloser::operator()(void *handle) const
{
    if (handle)
        dlclose(handle);
}

const PMFFmpegLibrary &PMFFmpegLibrary::shared()
{
    // Never unloaded: a worker thread may still be characterizing a file while the process
    // exits, and static destruction must not pull the code from under it.
    static const PMFFmpegLibrary *const instance = new PMFFmpegLibrary();
    return *instance;
}

QStringList PMFFmpegLibrary::defaultLibraryNames()
{
    return {
        QStringLiteral("libavutil.so.%1").arg(LIBAVUTIL_VERSION_MAJOR),
        QStringLiteral("libavcodec.so.%1").arg(LIBAVCODEC_VERSION_MAJOR),
        QStringLiteral("libavformat.so.%1").arg(LIBAVFORMAT_VERSION_MAJOR),
    };
}

PMFFmpegLibrary::PMFFmpegLibrary(const QStringList &libraryNames)
{
    m_loaded = load(libraryNames);
    if (m_loaded) {
        qCDebug(lcMedia).noquote() << "loaded" << libraryNames.join(QStringLiteral(", "));
        return;
    }
    // A half-resolved set must never be called: every function goes back to null.
    avformat_alloc_context = nullptr;
    avformat_open_input = nullptr;
    avformat_find_stream_info = nullptr;
    avformat_close_input = nullptr;
    av_dict_set = nullptr;
    av_dict_set_int = nullptr;
    av_dict_free = nullptr;
    av_log_set_callback = nullptr;
    av_log_format_line2 = nullptr;
    while (!m_handles.empty())
        m_handles.pop_back();
    const QString line = QStringLiteral("Cannot load the FFmpeg libraries (%1): media files cannot be examined and "
                                        "are treated as not playable.")
                             .arg(m_error);
    qCWarning(lcMedia).noquote() << line;
    PMAgentLog::logMessage(line);
}

PMFFmpegLibrary::~PMFFmpegLibrary()
{
    // Each library needs the ones opened before it: close in reverse order.
    while (!m_handles.empty())
        m_handles.pop_back();
}

template<typename Function> bool PMFFmpegLibrary::resolve(void *handle, const char *name, Function &function)
{
    dlerror();
    void *symbol = dlsym(handle, name);
    if (!symbol) {
        const char *reason = dlerror();
        m_error = reason ? QString::fromLocal8Bit(reason) : QStringLiteral("%1 not found").arg(QLatin1String(name));
        return false;
    }
    function = reinterpret_cast<Function>(symbol);
    return true;
}

bool PMFFmpegLibrary::load(const QStringList &libraryNames)
{
    if (libraryNames.size() < 2) {
        m_error = QStringLiteral("no library names");
        return false;
    }
    for (const QString &name : libraryNames) {
        // Local binding: FFmpeg's symbols must not take the place of anyone else's. Never
        // unmapped, even when the last handle is closed: the libraries keep state of their own
        // (allocations, the log callback) that must not dangle once opened.
        void *handle = dlopen(QFile::encodeName(name).constData(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        if (!handle) {
            const char *reason = dlerror();
            m_error = reason ? QString::fromLocal8Bit(reason) : name;
            return false;
        }
        m_handles.emplace_back(handle);
    }
    void *util = m_handles.front().get();
    void *format = m_handles.back().get();
    return resolve(format, "avformat_alloc_context", avformat_alloc_context)
        && resolve(format, "avformat_open_input", avformat_open_input)
        && resolve(format, "avformat_find_stream_info", avformat_find_stream_info)
        && resolve(format, "avformat_close_input", avformat_close_input) && resolve(util, "av_dict_set", av_dict_set)
        && resolve(util, "av_dict_set_int", av_dict_set_int) && resolve(util, "av_dict_free", av_dict_free)
        && resolve(util, "av_log_set_callback", av_log_set_callback)
        && resolve(util, "av_log_format_line2", av_log_format_line2);
}
