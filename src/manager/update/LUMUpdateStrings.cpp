#include "manager/update/LUMUpdateStrings.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>

QString LUMUpdateStrings::userLanguage(const QProcessEnvironment &environment)
{
    const QString languages = environment.value(QStringLiteral("LANGUAGE"));
    const QString first = languages.section(QLatin1Char(':'), 0, 0);
    if (!first.isEmpty())
        return first;
    for (const char *name : { "LC_ALL", "LC_MESSAGES", "LANG" }) {
        const QString value = environment.value(QString::fromLatin1(name));
        if (!value.isEmpty())
            return value;
    }
    return {};
}

QString LUMUpdateStrings::replaceLang(const QString &text, const QProcessEnvironment &environment)
{
    // "de_DE.UTF-8@euro" names the language "de", region "DE".
    const QString locale = userLanguage(environment).section(QLatin1Char('.'), 0, 0).section(QLatin1Char('@'), 0, 0);
    if (locale.isEmpty() || locale == QLatin1String("C") || locale == QLatin1String("POSIX"))
        return text;
    const QStringList parts = locale.split(QRegularExpression(QStringLiteral("[_-]")));
    const QString language = parts.value(0);
    const QString rest = parts.mid(1).join(QLatin1Char('-')).toLower();
    QString tag = QStringLiteral("en-us");
    for (const char *doubled : { "fr", "it", "de", "es" }) {
        if (language.compare(QLatin1String(doubled), Qt::CaseInsensitive) == 0)
            tag = language + QLatin1Char('-') + language;
    }
    if (language.compare(QLatin1String("zh"), Qt::CaseInsensitive) == 0) {
        const bool traditional = rest == QLatin1String("hant") || rest == QLatin1String("tw")
            || rest == QLatin1String("hk") || rest == QLatin1String("mo") || rest.startsWith(QLatin1String("hant-"));
        tag = traditional ? QStringLiteral("zh-tw") : QStringLiteral("zh-cn");
    }
    QString result = text;
    return result.replace(QStringLiteral("$LANG"), tag);
}

QString LUMUpdateStrings::localizedPath(const QString &path)
{
    QStringList names;
    QString prefix;
    for (const QString &component : path.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (component == QLatin1String("."))
            continue;
        prefix += QLatin1Char('/') + component;
        names.append(QFileInfo(prefix).fileName());
    }
    return QLatin1Char('/') + names.join(QLatin1Char('/'));
}
