#include "agent/app/PMTerminalAlertPresenter.h"

#include <QByteArray>
#include <QString>

#include <cstdio>
#include <unistd.h>

PMTerminalAlertPresenter::PMTerminalAlertPresenter(std::function<void()> beforeAsking, bool interactive)
    : m_beforeAsking(std::move(beforeAsking))
    , m_interactive(interactive && isatty(STDIN_FILENO) != 0)
{
}

void PMTerminalAlertPresenter::present(const platform::AlertRequest &request,
    std::function<void(platform::AlertAnswer)> done, std::function<void()> showLog)
{
    if (m_beforeAsking)
        m_beforeAsking();
    const QByteArray title = request.title.toUtf8();
    const QByteArray message = request.message.toUtf8();
    fprintf(stderr, "\n%s\n%s\n", title.constData(), message.constData());
    if (!m_interactive || !request.cancelButton) {
        const platform::AlertAnswer answer = request.cancelButton ? request.safeAnswer : platform::AlertAnswer::Ok;
        if (!m_interactive && request.cancelButton)
            fprintf(
                stderr, "(no terminal to ask: answering %s)\n", answer == platform::AlertAnswer::Ok ? "OK" : "Cancel");
        done(answer);
        return;
    }
    for (;;) {
        fprintf(stderr, "Continue? [y]es / [n]o%s: ", request.logButton ? " / [l]og" : "");
        fflush(stderr);
        char buffer[64] = {};
        if (!fgets(buffer, sizeof buffer, stdin)) {
            done(request.safeAnswer);
            return;
        }
        const char c = buffer[0];
        if (c == 'y' || c == 'Y') {
            done(platform::AlertAnswer::Ok);
            return;
        }
        if (c == 'n' || c == 'N') {
            done(platform::AlertAnswer::Cancel);
            return;
        }
        if ((c == 'l' || c == 'L') && request.logButton && showLog)
            showLog();
    }
}
