// Alerts the agent shows the user: a title, a message, OK, an optional Cancel and an optional
// button that shows the log. Worker threads never present one themselves; they hand the request
// to the main thread and wait for the answer there (see the sync controller).
//
//   presenter.present({tr("Copy failed"), text, true, true, platform::AlertAnswer::Cancel},
//                     [](platform::AlertAnswer answer) { ... }, [] { showLogWindow(); });
//
// Implementations: HeadlessAlertPresenter (no display: answers the request's safe answer and
// logs the question), DesktopNotificationAlertPresenter (a notification server but no window),
// and the dialogs of the agent's desktop face (src/agent/desktop). Tests answer from a script
// (tests/support/ScriptedAlertPresenter).
//
// Threads: present() is called on the main thread only; done is called exactly once, on the
// main thread, either before present() returns or later.
#pragma once

#include <QString>

#include <functional>

namespace platform {

enum class AlertAnswer { Ok, Cancel };

struct AlertRequest {
    QString title;
    QString message;
    bool cancelButton = false;
    bool logButton = false;
    // What a presenter that cannot ask anybody answers: OK, or Cancel where going on
    // unattended could lose data.
    AlertAnswer safeAnswer = AlertAnswer::Ok;
    // The Cancel button's label when it stands for something else ("Retry"); empty: "Cancel".
    QString cancelLabel {};
};

class AlertPresenter {
public:
    virtual ~AlertPresenter() = default;

    // showLog, when set, is called each time the user presses the log button; the alert stays.
    virtual void present(
        const AlertRequest &request, std::function<void(AlertAnswer)> done, std::function<void()> showLog)
        = 0;
    // Answers every request still open with its safe answer: a quitting agent cannot wait
    // for the user. Presenters that answer at once have nothing to do.
    virtual void withdrawAll() { }

protected:
    AlertPresenter() = default;
    AlertPresenter(const AlertPresenter &) = default;
    AlertPresenter &operator=(const AlertPresenter &) = default;
};

} // namespace platform
