#include "tools/pellmerectl/PMCtlValueParser.h"

#include "platform/PlatformPaths.h"

#include <QDir>
#include <QFileInfo>

#include <cmath>

namespace pmctl {

namespace {

template<typename T> std::optional<T> refuse(QString *why, const QString &text)
{
    if (why)
        *why = text;
    return std::nullopt;
}

} // namespace

std::optional<bool> PMCtlValueParser::parseBool(const QString &word, QString *why)
{
    const QString lower = word.trimmed().toLower();
    static const QStringList yes
        = { QStringLiteral("on"), QStringLiteral("true"), QStringLiteral("yes"), QStringLiteral("1") };
    static const QStringList no
        = { QStringLiteral("off"), QStringLiteral("false"), QStringLiteral("no"), QStringLiteral("0") };
    if (yes.contains(lower))
        return true;
    if (no.contains(lower))
        return false;
    return refuse<bool>(
        why, QStringLiteral("\"%1\" is not a yes/no value (use on/off, true/false, yes/no or 1/0)").arg(word));
}

std::optional<qint32> PMCtlValueParser::parseInt32(const QString &word, QString *why)
{
    bool ok = false;
    // QString::toInt accepts surrounding blanks; a value typed with them is still meant as a number.
    const qint32 value = word.trimmed().toInt(&ok, 10);
    if (!ok || word.trimmed().isEmpty())
        return refuse<qint32>(
            why, QStringLiteral("\"%1\" is not a whole number between -2147483648 and 2147483647").arg(word));
    return value;
}

std::optional<std::chrono::milliseconds> PMCtlValueParser::parseTimeout(const QString &word, QString *why)
{
    bool ok = false;
    const double seconds = word.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(seconds) || seconds <= 0.0 || seconds > 86400.0)
        return refuse<std::chrono::milliseconds>(
            why, QStringLiteral("\"%1\" is not a timeout in seconds (more than 0, at most 86400)").arg(word));
    return std::chrono::milliseconds(qMax<qint64>(1, qint64(std::llround(seconds * 1000.0))));
}

std::optional<QString> PMCtlValueParser::drivePath(const QString &word, QString *why)
{
    if (word.isEmpty())
        return refuse<QString>(why, QStringLiteral("the drive's folder is missing"));
    if (word.contains(QChar(0)))
        return refuse<QString>(why, QStringLiteral("the drive's folder holds a NUL character"));
    const QFileInfo info(QDir::current().absoluteFilePath(word));
    if (!info.exists())
        return refuse<QString>(why, QStringLiteral("%1: no such folder").arg(word));
    if (!info.isDir())
        return refuse<QString>(why, QStringLiteral("%1: not a folder (give the drive's mount point)").arg(word));
    const QString canonical = info.canonicalFilePath();
    if (canonical.isEmpty())
        return refuse<QString>(why, QStringLiteral("%1: cannot resolve the folder's real path").arg(word));
    return canonical;
}

std::optional<QString> PMCtlValueParser::itemPath(const QString &word, QString *why)
{
    if (word.isEmpty())
        return refuse<QString>(why, QStringLiteral("an empty path cannot be synced"));
    if (word.contains(QChar(0)))
        return refuse<QString>(why, QStringLiteral("a path holds a NUL character"));
    // A quoted "~/Music" reaches us unexpanded; the agent keeps home-relative entries anyway.
    const QString expanded = platform::PlatformPaths::expandTilde(word);
    return QDir::cleanPath(QDir::current().absoluteFilePath(expanded));
}

} // namespace pmctl
