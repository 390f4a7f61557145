#include "agent/settings/PMConfigurationBatch.h"

#include "agent/settings/PMConfigurationFile.h"

#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcConfigBatch, "pellmere.settings")

PMConfigurationBatch::PMConfigurationBatch(PMConfigurationFile &config)
    : m_config(config)
    , m_lock(config.m_configLock)
{
    m_config.beginDeferredWritesLocked();
}

PMConfigurationBatch::~PMConfigurationBatch()
{
    if (!m_result && !commit())
        qCWarning(lcConfigBatch).noquote() << "the settings of" << m_config.configPath() << "were not written";
}

bool PMConfigurationBatch::commit()
{
    if (!m_result) {
        m_result = m_config.endDeferredWritesLocked();
        m_lock.unlock();
    }
    return *m_result;
}
