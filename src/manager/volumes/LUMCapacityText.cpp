#include "manager/volumes/LUMCapacityText.h"

#include <QLocale>

namespace {

constexpr quint64 kKilo = 1024;
constexpr quint64 kMega = kKilo * kKilo;
constexpr quint64 kGiga = kMega * kKilo;
constexpr quint64 kTera = kGiga * kKilo;

QString inUnit(const QString &format, quint64 freeBytes, quint64 totalBytes, quint64 unit)
{
    const QLocale locale;
    return format.arg(locale.toString(double(freeBytes) / double(unit), 'f', 2),
        locale.toString(double(totalBytes) / double(unit), 'f', 2));
}

} // namespace

QString LUMCapacityText::format(quint64 freeBytes, quint64 totalBytes)
{
    // The unit follows the total, so both numbers of a line read in the same unit.
    if (totalBytes < kKilo) {
        const QLocale locale;
        return tr("%1 bytes free of %2 bytes", "MonoByteFormat")
            .arg(locale.toString(freeBytes), locale.toString(totalBytes));
    }
    if (totalBytes < kMega)
        return inUnit(tr("%1 KB free of %2 KB", "KiloByteFormat"), freeBytes, totalBytes, kKilo);
    if (totalBytes < kGiga)
        return inUnit(tr("%1 MB free of %2 MB", "MegaByteFormat"), freeBytes, totalBytes, kMega);
    if (totalBytes < kTera)
        return inUnit(tr("%1 GB free of %2 GB", "GigaByteFormat"), freeBytes, totalBytes, kGiga);
    return inUnit(tr("%1 TB free of %2 TB", "TeraByteFormat"), freeBytes, totalBytes, kTera);
}
