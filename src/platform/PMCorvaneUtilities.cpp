#include "platform/PMCorvaneUtilities.h"

#include "platform/HostIdentity.h"
#include "platform/MountTable.h"

#include <QFile>

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstdlib>

namespace PMCorvaneUtilities {

namespace {

bool hasType(const QVariantMap &map, const QString &key, QMetaType::Type type)
{
    const auto it = map.constFind(key);
    return it != map.cend() && it->typeId() == type;
}

bool stringBoolValue(const QString &text)
{
    qsizetype i = 0;
    while (i < text.size() && text.at(i).isSpace())
        ++i;
    if (i < text.size() && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-')))
        ++i;
    while (i < text.size() && text.at(i) == QLatin1Char('0'))
        ++i;
    if (i >= text.size())
        return false;
    const QChar c = text.at(i);
    return c == QLatin1Char('Y') || c == QLatin1Char('y') || c == QLatin1Char('T') || c == QLatin1Char('t')
        || (c >= QLatin1Char('1') && c <= QLatin1Char('9'));
}

} // namespace

std::optional<QVariantList> arrayForKey(const QVariantMap &map, const QString &key)
{
    if (!hasType(map, key, QMetaType::QVariantList))
        return std::nullopt;
    return map.value(key).toList();
}

QByteArray dataForKey(const QVariantMap &map, const QString &key)
{
    return hasType(map, key, QMetaType::QByteArray) ? map.value(key).toByteArray() : QByteArray();
}

QDateTime dateForKey(const QVariantMap &map, const QString &key)
{
    return hasType(map, key, QMetaType::QDateTime) ? map.value(key).toDateTime() : QDateTime();
}

bool isNumber(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Double:
    case QMetaType::Float:
        return true;
    default:
        return false;
    }
}

QVariant numberForKey(const QVariantMap &map, const QString &key)
{
    const QVariant value = map.value(key);
    // A property-list boolean is a number to Foundation as well; keep that meaning.
    return isNumber(value) || value.typeId() == QMetaType::Bool ? value : QVariant();
}

QString stringForKey(const QVariantMap &map, const QString &key)
{
    return hasType(map, key, QMetaType::QString) ? map.value(key).toString() : QString();
}

std::optional<QVariantMap> dictionaryForKey(const QVariantMap &map, const QString &key)
{
    if (!hasType(map, key, QMetaType::QVariantMap))
        return std::nullopt;
    return map.value(key).toMap();
}

bool boolForKey(const QVariantMap &map, const QString &key)
{
    const auto it = map.constFind(key);
    if (it == map.cend())
        return false;
    if (it->typeId() == QMetaType::Bool)
        return it->toBool();
    if (isNumber(*it))
        return it->toDouble() != 0.0;
    if (it->typeId() == QMetaType::QString)
        return stringBoolValue(it->toString());
    return false;
}

void setBool(QVariantMap &map, const QString &key, bool value)
{
    map.insert(key, QVariant(value));
}

QString stringWithDevNodeFromMountPoint(const QString &mountPoint)
{
    const QString name = platform::MountTable::deviceNodeNameForPath(mountPoint);
    return name.isEmpty() ? QString() : name;
}

QString stringWithRealPath(const QString &path)
{
    if (path.isEmpty())
        return {};
    char *resolved = realpath(QFile::encodeName(path).constData(), nullptr);
    if (!resolved)
        return {};
    QString result = QFile::decodeName(resolved);
    free(resolved);
    return result;
}

bool isPackagePath(const QString &path)
{
    static const std::array<QLatin1String, 21> kSuffixes = { QLatin1String(".app"), QLatin1String(".bundle"),
        QLatin1String(".framework"), QLatin1String(".plugin"), QLatin1String(".kext"), QLatin1String(".rtfd"),
        QLatin1String(".pages"), QLatin1String(".numbers"), QLatin1String(".key"), QLatin1String(".photolibrary"),
        QLatin1String(".photoslibrary"), QLatin1String(".migratedphotolibrary"), QLatin1String(".aplibrary"),
        QLatin1String(".imovielibrary"), QLatin1String(".tvlibrary"), QLatin1String(".theater"),
        QLatin1String(".fcpbundle"), QLatin1String(".logicx"), QLatin1String(".band"), QLatin1String(".musiclibrary"),
        QLatin1String(".sparsebundle") };
    QString clean = path;
    while (clean.size() > 1 && clean.endsWith(QLatin1Char('/')))
        clean.chop(1);
    // The name decides first: a sync walk asks this of every folder, and few are packages.
    const bool packageName = std::any_of(kSuffixes.cbegin(), kSuffixes.cend(), [&clean](const QLatin1String &suffix) {
        return clean.endsWith(suffix, Qt::CaseInsensitive) && clean.size() > suffix.size();
    });
    struct stat sb = {};
    return packageName && stat(QFile::encodeName(path).constData(), &sb) == 0 && S_ISDIR(sb.st_mode);
}

QString stringWithPrimaryMACAddressWithColons(bool withColons)
{
    const QString text
        = platform::HostIdentity::formatMacAddress(platform::HostIdentity::create()->primaryMacAddress(), withColons);
    return text.isEmpty() ? QString() : text;
}

QString stringWithHostname()
{
    return platform::HostIdentity::create()->hostName();
}

QString stringWithMachineName()
{
    return platform::HostIdentity::create()->machineName();
}

} // namespace PMCorvaneUtilities
