// The update service's answer: a dictionary whose "Upgrade" array lists upgrade entries.
#pragma once

#include <QString>
#include <QVariant>
#include <QVariantMap>

class AUAnswer {
public:
    // The first entry of "Upgrade" that names "new-Version", "old-Version", "OS" and
    // "product", whose "OS" is "LINUX" and whose product is moduleName (both regardless of
    // case), and for which moduleVersion is below "new-Version" and not below
    // "old-Version". An empty map when there is none.
    static QVariantMap matchingUpgrade(const QVariant &answer, const QString &moduleName, const QString &moduleVersion);
};
