// Tells the user that a network device could not be reached ("There was an error connecting
// to <device>", the reason, OK and Retry), unless the shared preference
// "com.corvane.silenceNetworkAlerts" says to keep quiet about network shares: then it tries
// again at once without asking.
//
//   PMConnectionErrorAlert alert(presenter);
//   alert.show(device.name(), error, [=] { mapper.mountAllSharesOf(device); });
//
// Main thread. retry is called on it, at most once per show(), and only for Retry (or
// at once when silenced); OK ends the matter.
#pragma once

#include "platform/AlertPresenter.h"
#include "platform/CommonPreferences.h"

#include <QString>

#include <functional>

class PMConnectionErrorAlert {
public:
    explicit PMConnectionErrorAlert(platform::AlertPresenter &alerts);
    PMConnectionErrorAlert(platform::AlertPresenter &alerts, platform::CommonPreferences preferences);

    void show(const QString &deviceName, const QString &errorText, std::function<void()> retry);

private:
    platform::AlertPresenter &m_alerts;
    platform::CommonPreferences m_preferences;
};
