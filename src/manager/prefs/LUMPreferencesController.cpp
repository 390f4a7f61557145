#include "manager/prefs/LUMPreferencesController.h"

#include "manager/log/LUMFileLog.h"

LUMPreferencesController::LUMPreferencesController(QObject *parent)
    : LUMPreferencesController(platform::CommonPreferences(), parent)
{
}

LUMPreferencesController::LUMPreferencesController(platform::CommonPreferences file, QObject *parent)
    : QObject(parent)
    , m_file(std::move(file))
    , m_silenceNetworkErrors(m_file.silenceNetworkAlerts())
{
}

void LUMPreferencesController::setSilenceNetworkErrors(bool silence)
{
    const bool changed = silence != m_silenceNetworkErrors;
    m_silenceNetworkErrors = silence;
    if (!m_file.setSilenceNetworkAlerts(silence))
        qCWarning(LUMFileLog::category()).noquote()
            << "D - LUMPreferencesController(setSilenceNetworkErrors) - cannot write" << m_file.filePath();
    if (changed)
        Q_EMIT silenceNetworkErrorsChanged(silence);
}

bool LUMPreferencesController::saveSettings(const QVariantMap &settings) const
{
    return m_file.saveSettings(settings);
}
