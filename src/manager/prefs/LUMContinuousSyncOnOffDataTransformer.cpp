#include "manager/prefs/LUMContinuousSyncOnOffDataTransformer.h"

#include <QString>

QVariant LUMContinuousSyncOnOffDataTransformer::transformedValue(const QVariant &value) const
{
    if (!value.isValid() || value.isNull())
        return {};
    if (value.typeId() == QMetaType::QString && value.toString().isEmpty())
        return {};
    return value.toBool() ? tr("On") : tr("Off");
}
