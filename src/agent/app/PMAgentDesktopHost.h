// The agent's side of the desktop face: the "debug" default, the shared log and quitting,
// for the tray menu and the log window.
//
//   PMAgentDesktopHost host(PMApplicationController::sharedInstance());
//   face->start(host);
//
// Main thread.
#pragma once

#include "agent/app/PMDesktopFace.h"

class PMApplicationController;

class PMAgentDesktopHost : public PMDesktopHost {
public:
    explicit PMAgentDesktopHost(PMApplicationController &app);

    bool debugMode() const override;
    void setDebugMode(bool on) override;
    void attachLogView(PMLogView *view) override;
    QString logWindowTitle() const override;
    QString logFrameAutosaveName() const override;
    QString flushLog() override;
    void clearLog() override;
    QUrl helpUrl() const override;
    void selectDevice() override;
    void quit() override;

private:
    PMApplicationController &m_app;
};
