// A presenter that answers from a script, for tests and unattended runs: each alert takes the
// next scripted answer (the request's safe answer once the script is used up), answered from
// the event loop as a real dialog would be. Every request is recorded.
//
//   testsupport::ScriptedAlertPresenter alerts;
//   alerts.appendAnswer(platform::AlertAnswer::Cancel);
//   ... the code under test asks ...
//   EXPECT_EQ(alerts.requests().at(0).title, "Copy failed");
//
// Threads: present() on the main thread; the script and the record may be read and changed
// from any thread.
#pragma once

#include "platform/AlertPresenter.h"

#include <QList>

#include <deque>
#include <mutex>

namespace testsupport {

class ScriptedAlertPresenter : public platform::AlertPresenter {
public:
    void appendAnswer(platform::AlertAnswer answer);
    // Each later alert presses the log button once before it is answered.
    void setPressLogButton(bool press);

    QList<platform::AlertRequest> requests() const;

    void present(const platform::AlertRequest &request, std::function<void(platform::AlertAnswer)> done,
        std::function<void()> showLog) override;

private:
    mutable std::mutex m_mutex;
    std::deque<platform::AlertAnswer> m_answers;
    QList<platform::AlertRequest> m_requests;
    bool m_pressLogButton = false;
};

} // namespace testsupport
