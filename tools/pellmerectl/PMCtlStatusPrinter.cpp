#include "tools/pellmerectl/PMCtlStatusPrinter.h"

#include <QDateTime>
#include <QStringList>

namespace pmctl {

namespace {

QString row(const QString &label, const QString &value)
{
    return QStringLiteral("  %1%2\n").arg(label, -15).arg(value);
}

QString yesNo(const QVariantMap &entry, const QString &key)
{
    if (!entry.contains(key))
        return QStringLiteral("-");
    return entry.value(key).toBool() ? QStringLiteral("yes") : QStringLiteral("no");
}

QString lastSync(const QVariantMap &entry)
{
    const QDateTime time = entry.value(QStringLiteral("lastSyncTime")).toDateTime();
    if (!time.isValid())
        return QStringLiteral("never");
    return time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + QStringLiteral(" (local time)");
}

} // namespace

QString PMCtlStatusPrinter::format(const QVariantMap &status)
{
    QString text;
    for (auto user = status.cbegin(); user != status.cend(); ++user) {
        const QVariantMap entry = user.value().toMap();
        if (!text.isEmpty())
            text += QLatin1Char('\n');
        text += QStringLiteral("User %1\n").arg(user.key());
        const QString computer = entry.value(QStringLiteral("computerName")).toString();
        text += row(QStringLiteral("Computer name"), computer.isEmpty() ? QStringLiteral("-") : computer);
        text += row(QStringLiteral("Participate"), yesNo(entry, QStringLiteral("participateSyncEnabled")));
        text += row(QStringLiteral("Continuous"), yesNo(entry, QStringLiteral("continuousSyncEnabled")));
        text += row(QStringLiteral("Quiet"), yesNo(entry, QStringLiteral("quietSyncEnabled")));
        text += row(QStringLiteral("Last sync"), lastSync(entry));
        const QStringList syncSet = entry.value(QStringLiteral("syncSet")).toStringList();
        if (syncSet.isEmpty()) {
            text += row(QStringLiteral("Sync set"), QStringLiteral("-"));
            continue;
        }
        text += row(QStringLiteral("Sync set"), syncSet.first());
        for (qsizetype index = 1; index < syncSet.size(); ++index)
            text += row(QString(), syncSet.at(index));
    }
    return text;
}

} // namespace pmctl
