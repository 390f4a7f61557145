#include "autoupdate/AUVersion.h"

#include <QStringList>

#include <array>

namespace {

std::array<qint64, 4> partsOf(const QString &version)
{
    std::array<qint64, 4> parts {};
    const QStringList split = version.split(QLatin1Char('.'));
    for (qsizetype i = 0; i < split.size() && i < qsizetype(parts.size()); ++i) {
        bool ok = false;
        const qint64 value = split.at(i).trimmed().toLongLong(&ok);
        parts[size_t(i)] = ok ? value : 0;
    }
    return parts;
}

} // namespace

int AUVersion::compare(const QString &a, const QString &b)
{
    const auto left = partsOf(a);
    const auto right = partsOf(b);
    for (size_t i = 0; i < left.size(); ++i) {
        if (left[i] != right[i])
            return left[i] < right[i] ? -1 : 1;
    }
    return 0;
}
