// Reads the facts the codec rules judge from a media file, with FFmpeg's libavformat (loaded
// on first use, see PMFFmpegLibrary), and keeps the last answer so a file asked by several
// list entries in a row is opened once.
//
//   MediaFileCharacterization c = PMMediaCharacterizer::shared().characterize(path, 0);
//   if (c.opened && c.hasVideo && c.videoCodec == PMMediaCodecCodes::kVideoH264) ...
//
// Any thread. Characterization runs on the calling (worker) thread: libavformat is safe with
// one context per thread and needs no main-thread hop or global initialisation. Only the
// one-entry cache is shared; a mutex serializes its use by workers of several drives. The
// cache is keyed by the path and the file's identity and modification time, so a file
// replaced under the same name is read again.
//
// Opening is bounded (a small probe size and analysis window, a deadline, the file protocol
// only, and only the container formats a device rule can speak for), so a corrupt or hostile
// file ends as "not opened" rather than crashing or hanging the agent.
#pragma once

#include "agent/media/MediaFileCharacterization.h"

#include <QString>

#include <atomic>
#include <mutex>

class PMFFmpegLibrary;

class PMMediaCharacterizer {
public:
    static PMMediaCharacterizer &shared();

    PMMediaCharacterizer() = default;
    PMMediaCharacterizer(const PMMediaCharacterizer &) = delete;
    PMMediaCharacterizer &operator=(const PMMediaCharacterizer &) = delete;

    // The record for path with containerType stored in it; from the cache when the same
    // unchanged file was the last one characterized.
    MediaFileCharacterization characterize(const QString &path, int containerType);
    void clearCache();
    // How many times a file was actually opened by this instance.
    quint64 openCount() const { return m_openCount.load(); }

    // Opens and reads path every time (no cache), with the shared FFmpeg libraries or the
    // given ones; a record that did not open when the libraries are not loaded.
    static MediaFileCharacterization characterizeFile(const QString &path, int containerType);
    static MediaFileCharacterization characterizeFile(
        const QString &path, int containerType, const PMFFmpegLibrary &ffmpeg);

private:
    struct FileStamp {
        QString path;
        quint64 device = 0;
        quint64 inode = 0;
        qint64 size = -1;
        qint64 modifiedNs = 0;
        bool operator==(const FileStamp &) const = default;
    };
    static bool stampFile(const QString &path, FileStamp &stamp);

    std::mutex m_mutex;
    bool m_haveEntry = false;
    FileStamp m_lastStamp;
    MediaFileCharacterization m_lastRecord;
    std::atomic<quint64> m_openCount { 0 };
};
