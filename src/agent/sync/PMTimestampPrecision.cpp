#include "agent/sync/PMTimestampPrecision.h"

#include <QFile>
#include <QLoggingCategory>

#include <array>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcPrecision, "pellmere.sync")

namespace {

constexpr qint64 kSecond = 1000000000;
// Nanoseconds, 100 ns (NTFS), microseconds, 10 ms (exFAT), seconds, 2 s (FAT).
constexpr std::array<qint64, 6> kGranularities = { 1, 100, 1000, 10000000, kSecond, 2 * kSecond };

qint64 floorTo(qint64 value, qint64 granularity)
{
    qint64 remainder = value % granularity;
    if (remainder < 0)
        remainder += granularity;
    return value - remainder;
}

} // namespace

PMTimestampPrecision::PMTimestampPrecision(qint64 granularityNs)
    : m_granularityNs(granularityNs > 0 ? granularityNs : 1)
{
}

qint64 PMTimestampPrecision::truncate(qint64 nanoseconds) const
{
    return m_granularityNs == 1 ? nanoseconds : floorTo(nanoseconds, m_granularityNs);
}

qint64 PMTimestampPrecision::difference(qint64 localNs, qint64 driveNs) const
{
    return truncate(localNs) - truncate(driveNs);
}

qint64 PMTimestampPrecision::granularityFor(qint64 writtenNs, qint64 readBackNs)
{
    for (qint64 granularity : kGranularities)
        if (floorTo(writtenNs, granularity) == readBackNs)
            return granularity;
    // A drive that rounds instead of truncating: the coarsest step that covers the change.
    for (qint64 granularity : kGranularities)
        if (qAbs(writtenNs - readBackNs) < granularity)
            return granularity;
    return 2 * kSecond;
}

PMTimestampPrecision PMTimestampPrecision::probe(const QString &folder)
{
    const QString path = folder + QStringLiteral("/.pellmere-time-probe");
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        qCInfo(lcPrecision) << "cannot probe time precision in" << folder << strerror(errno);
        return PMTimestampPrecision();
    }
    // An odd second and nanoseconds that no coarser step divides.
    const struct timespec written[2] = { { 1234567891, 987654321 }, { 1234567891, 987654321 } };
    struct stat sb = {};
    const bool ok = futimens(fd, written) == 0 && fstat(fd, &sb) == 0;
    ::close(fd);
    ::unlink(native.constData());
    if (!ok)
        return PMTimestampPrecision();
    const qint64 writtenNs = qint64(written[1].tv_sec) * kSecond + written[1].tv_nsec;
    const qint64 readNs = qint64(sb.st_mtim.tv_sec) * kSecond + sb.st_mtim.tv_nsec;
    const qint64 granularity = granularityFor(writtenNs, readNs);
    qCDebug(lcPrecision) << "time precision of" << folder << "is" << granularity << "ns";
    return PMTimestampPrecision(granularity);
}
