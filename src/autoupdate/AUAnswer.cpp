#include "autoupdate/AUAnswer.h"

#include "autoupdate/AUVersion.h"

#include <QVariantList>

namespace {

const QString kNew = QStringLiteral("new-Version");
const QString kOld = QStringLiteral("old-Version");
const QString kOS = QStringLiteral("OS");
const QString kProduct = QStringLiteral("product");

bool isString(const QVariantMap &entry, const QString &key)
{
    return entry.value(key).typeId() == QMetaType::QString;
}

} // namespace

QVariantMap AUAnswer::matchingUpgrade(const QVariant &answer, const QString &moduleName, const QString &moduleVersion)
{
    if (answer.typeId() != QMetaType::QVariantMap)
        return {};
    const QVariant upgrades = answer.toMap().value(QStringLiteral("Upgrade"));
    if (upgrades.typeId() != QMetaType::QVariantList)
        return {};
    for (const QVariant &item : upgrades.toList()) {
        if (item.typeId() != QMetaType::QVariantMap)
            continue;
        const QVariantMap entry = item.toMap();
        if (!isString(entry, kNew) || !isString(entry, kOld) || !isString(entry, kOS) || !isString(entry, kProduct))
            continue;
        if (entry.value(kOS).toString().compare(QStringLiteral("LINUX"), Qt::CaseInsensitive) != 0)
            continue;
        if (entry.value(kProduct).toString().compare(moduleName, Qt::CaseInsensitive) != 0)
            continue;
        if (AUVersion::compare(moduleVersion, entry.value(kNew).toString()) < 0
            && AUVersion::compare(moduleVersion, entry.value(kOld).toString()) >= 0)
            return entry;
    }
    return {};
}
