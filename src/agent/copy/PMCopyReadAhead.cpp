#include "agent/copy/PMCopyReadAhead.h"

#include "agent/copy/PMUniqueFd.h"
#include "platform/FileNameCodec.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>

PMCopyReadAhead::PMCopyReadAhead(const QStringList &paths, int window)
    : m_window(std::max(0, window))
{
    m_paths.reserve(size_t(paths.size()));
    for (const QString &path : paths)
        m_paths.push_back(platform::FileNameCodec::encode(path));
}

void PMCopyReadAhead::reached(qsizetype index)
{
    const qsizetype last = std::min<qsizetype>(qsizetype(m_paths.size()) - 1, index + m_window);
    // The file being copied needs no advice: its own reads start now.
    m_next = std::max(m_next, index + 1);
    for (; m_next <= last; ++m_next)
        advise(m_paths[size_t(m_next)]);
}

void PMCopyReadAhead::advise(const QByteArray &path)
{
    // O_NONBLOCK: a FIFO or a device among the files must never stop the job here.
    const PMUniqueFd fd(::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd.isValid())
        return;
    struct stat sb = {};
    if (fstat(fd.get(), &sb) != 0 || !S_ISREG(sb.st_mode) || sb.st_size == 0)
        return;
    if (posix_fadvise(fd.get(), 0, std::min<qint64>(qint64(sb.st_size), kMaxBytesPerFile), POSIX_FADV_WILLNEED) == 0)
        ++m_advisedCount;
}
