#include "platform/HeadlessAlertPresenter.h"

#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcHeadlessAlert, "pellmere.alert")

namespace platform {

void HeadlessAlertPresenter::present(
    const AlertRequest &request, std::function<void(AlertAnswer)> done, std::function<void()> showLog)
{
    Q_UNUSED(showLog)
    const bool ok = request.safeAnswer == AlertAnswer::Ok || !request.cancelButton;
    qCWarning(lcHeadlessAlert).noquote() << QStringLiteral("Alert \"%1\": %2 -- answered %3 (no display)")
                                                .arg(request.title, request.message,
                                                    ok ? QStringLiteral("OK") : QStringLiteral("Cancel"));
    if (done)
        done(ok ? AlertAnswer::Ok : AlertAnswer::Cancel);
}

} // namespace platform
