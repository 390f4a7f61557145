#include "agent/app/PMConnectionErrorAlert.h"

#include <QCoreApplication>
#include <QDebug>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("PMConnectionErrorAlert", text);
}

} // namespace

PMConnectionErrorAlert::PMConnectionErrorAlert(platform::AlertPresenter &alerts)
    : PMConnectionErrorAlert(alerts, platform::CommonPreferences())
{
}

PMConnectionErrorAlert::PMConnectionErrorAlert(
    platform::AlertPresenter &alerts, platform::CommonPreferences preferences)
    : m_alerts(alerts)
    , m_preferences(std::move(preferences))
{
}

void PMConnectionErrorAlert::show(const QString &deviceName, const QString &errorText, std::function<void()> retry)
{
    // Read at each failure: the manager may have changed it meanwhile.
    if (m_preferences.silenceNetworkAlerts()) {
        qInfo().noquote() << "Enjoy the sound of silence";
        if (retry)
            retry();
        return;
    }
    platform::AlertRequest request;
    request.title = tr("There was an error connecting to %1").arg(deviceName);
    request.message = errorText;
    request.cancelButton = true;
    request.cancelLabel = tr("Retry");
    // Nobody to ask: trying again unasked could repeat the failure for ever.
    request.safeAnswer = platform::AlertAnswer::Ok;
    m_alerts.present(request,
        [retry = std::move(retry)](platform::AlertAnswer answer) {
            if (answer == platform::AlertAnswer::Cancel && retry)
                retry();
        },
        {});
}
