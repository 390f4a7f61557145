#include "support/ScriptedAlertPresenter.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QMetaObject>

Q_LOGGING_CATEGORY(lcScriptedAlert, "pellmere.alert")

namespace testsupport {

void ScriptedAlertPresenter::appendAnswer(platform::AlertAnswer answer)
{
    std::lock_guard lock(m_mutex);
    m_answers.push_back(answer);
}

void ScriptedAlertPresenter::setPressLogButton(bool press)
{
    std::lock_guard lock(m_mutex);
    m_pressLogButton = press;
}

QList<platform::AlertRequest> ScriptedAlertPresenter::requests() const
{
    std::lock_guard lock(m_mutex);
    // A list of its own, not one sharing data with the record that present() appends to.
    return QList<platform::AlertRequest>(m_requests.cbegin(), m_requests.cend());
}

void ScriptedAlertPresenter::present(const platform::AlertRequest &request,
    std::function<void(platform::AlertAnswer)> done, std::function<void()> showLog)
{
    platform::AlertAnswer answer = request.safeAnswer;
    bool pressLog = false;
    {
        std::lock_guard lock(m_mutex);
        m_requests.append(request);
        if (!m_answers.empty()) {
            answer = m_answers.front();
            m_answers.pop_front();
        }
        pressLog = m_pressLogButton && request.logButton;
    }
    if (!request.cancelButton)
        answer = platform::AlertAnswer::Ok;
    qCInfo(lcScriptedAlert).noquote() << QStringLiteral("Alert \"%1\": %2 -- answered %3")
                                             .arg(request.title, request.message,
                                                 answer == platform::AlertAnswer::Ok ? QStringLiteral("OK")
                                                                                     : QStringLiteral("Cancel"));
    // Answer from the event loop, as a dialog would, so callers cannot rely on a synchronous answer.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [done = std::move(done), showLog = std::move(showLog), answer, pressLog] {
            if (pressLog && showLog)
                showLog();
            if (done)
                done(answer);
        },
        Qt::QueuedConnection);
}

} // namespace testsupport
