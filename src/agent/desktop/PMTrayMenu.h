// The agent's menu: "Debug Mode" (checked while the "debug" default is on; choosing it flips
// and saves the default), "Show Log"/"Hide Log" (titled after the log window's state when the
// menu opens), "Clear Log..." (asks first), "Help", "Select Device" and "Quit Pellmere".
// It is the tray icon's context menu; where the desktop has no tray, the same actions stay
// reachable through `pellmere --show-log` and pellmerectl.
//
//   PMTrayMenu menu(host, logWindowToggle);
//   menu.debugAction()->trigger();
//
// Main thread only.
#pragma once

#include <QMenu>

#include <functional>

class PMDesktopHost;

class PMTrayMenu : public QMenu {
    Q_OBJECT

public:
    struct LogWindowControl {
        std::function<bool()> isVisible;
        std::function<void()> show;
        std::function<void()> hide;
        std::function<void()> askToClear;
    };

    PMTrayMenu(PMDesktopHost &host, LogWindowControl logWindow, QWidget *parent = nullptr);

    // Brings every title and check mark up to date; runs each time the menu opens.
    void validateItems();

    QAction *debugAction() const { return m_debug; }
    QAction *toggleLogAction() const { return m_toggleLog; }
    QAction *clearLogAction() const { return m_clearLog; }
    QAction *helpAction() const { return m_help; }
    QAction *selectDeviceAction() const { return m_selectDevice; }
    QAction *quitAction() const { return m_quit; }

private:
    PMDesktopHost &m_host;
    LogWindowControl m_logWindow;
    QAction *m_debug = nullptr;
    QAction *m_toggleLog = nullptr;
    QAction *m_clearLog = nullptr;
    QAction *m_help = nullptr;
    QAction *m_selectDevice = nullptr;
    QAction *m_quit = nullptr;
};
