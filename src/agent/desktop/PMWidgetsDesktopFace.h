// The desktop face built on Qt Widgets: the tray icon with the agent's menu and an icon and
// tool tip that follow the drives' activity, the log window (made on first use, when the log
// text moves into it), the dialog alert presenter, the sync preview windows, and opening the
// log file.
//
// Main thread only.
#pragma once

#include "agent/app/PMDesktopFace.h"
#include "agent/desktop/PMTrayActivity.h"

#include <QPointer>

#include <memory>
#include <vector>

class PMLogWindow;
class PMSyncPreviewWindow;
class PMTrayMenu;
class QSystemTrayIcon;

class PMWidgetsDesktopFace : public PMDesktopFace {
public:
    PMWidgetsDesktopFace();
    ~PMWidgetsDesktopFace() override;

    std::unique_ptr<QCoreApplication> createApplication(int &argc, char **argv) override;
    void start(PMDesktopHost &host) override;
    std::unique_ptr<platform::AlertPresenter> createAlertPresenter() override;
    void showActivity(const QVariantMap &progress) override;
    void showLogWindow() override;
    void hideLogWindow() override;
    bool isLogWindowVisible() const override;
    void openLogFile() override;
    void showSyncPreview(PMSyncPreviewRequest request) override;
    void closeSyncPreviews() override;
    void stop() override;

    // The preview windows still open, oldest first.
    std::vector<PMSyncPreviewWindow *> previewWindows() const;

    // Made on first use; the log's text then lives in it.
    PMLogWindow &logWindow();
    PMTrayMenu *menu() const { return m_menu.get(); }
    QSystemTrayIcon *trayIcon() const { return m_tray.get(); }
    const PMTrayActivity &activity() const { return m_activity; }

private:
    void askToClearLog();
    void refreshTrayIcon();

    PMDesktopHost *m_host = nullptr;
    std::unique_ptr<PMLogWindow> m_logWindow;
    std::unique_ptr<PMTrayMenu> m_menu;
    std::unique_ptr<QSystemTrayIcon> m_tray;
    PMTrayActivity m_activity;
    std::vector<QPointer<PMSyncPreviewWindow>> m_previews;
};
