// Shows the continuous-sync state as a word: true gives the translated "On", false "Off", and
// no value (a null or empty QVariant, as when no drive is selected) stays no value, so the
// view shows nothing rather than a wrong word.
//
//   const LUMContinuousSyncOnOffDataTransformer onOff;
//   label->setText(onOff(client.continuousSyncState()).toString());
//
// Stateless; any thread.
#pragma once

#include <QCoreApplication>
#include <QVariant>

class LUMContinuousSyncOnOffDataTransformer {
    Q_DECLARE_TR_FUNCTIONS(LUMContinuousSyncOnOffDataTransformer)

public:
    QVariant transformedValue(const QVariant &value) const;
    QVariant operator()(const QVariant &value) const { return transformedValue(value); }
};
