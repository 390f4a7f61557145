// The presenter of an agent without a display: nobody can answer, so every alert is answered
// at once with its safe answer, and the question and that answer go to the console
// (category "pellmere.alert") so the user can read later what was decided.
//
// Threads: main thread only, like every AlertPresenter.
#pragma once

#include "platform/AlertPresenter.h"

namespace platform {

class HeadlessAlertPresenter : public AlertPresenter {
public:
    void present(
        const AlertRequest &request, std::function<void(AlertAnswer)> done, std::function<void()> showLog) override;
};

} // namespace platform
