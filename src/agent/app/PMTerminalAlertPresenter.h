// Alerts of a command-line sync: asked on the terminal when standard input is one, otherwise
// answered with the request's safe answer. Either way the question and the answer are written
// to standard error, so nothing is decided silently.
//
// Main thread only (see platform::AlertPresenter); reading the answer blocks the main thread,
// which the sync worker is waiting on anyway.
#pragma once

#include "platform/AlertPresenter.h"

#include <functional>

class PMTerminalAlertPresenter : public platform::AlertPresenter {
public:
    // beforeAsking runs before anything is printed (to end a progress line).
    explicit PMTerminalAlertPresenter(std::function<void()> beforeAsking = {}, bool interactive = true);

    void present(const platform::AlertRequest &request, std::function<void(platform::AlertAnswer)> done,
        std::function<void()> showLog) override;

private:
    std::function<void()> m_beforeAsking;
    bool m_interactive;
};
