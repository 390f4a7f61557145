#include "agent/desktop/PMWidgetsDesktopFace.h"

#include "agent/desktop/PMDialogAlertPresenter.h"
#include "agent/desktop/PMLogWindow.h"
#include "agent/desktop/PMSyncPreviewWindow.h"
#include "agent/desktop/PMTrayIcons.h"
#include "agent/desktop/PMTrayMenu.h"

#include <QApplication>
#include <QDesktopServices>
#include <QSystemTrayIcon>
#include <QUrl>

PMWidgetsDesktopFace::PMWidgetsDesktopFace() = default;

PMWidgetsDesktopFace::~PMWidgetsDesktopFace()
{
    stop();
}

std::unique_ptr<QCoreApplication> PMWidgetsDesktopFace::createApplication(int &argc, char **argv)
{
    auto app = std::make_unique<QApplication>(argc, argv);
    // The agent lives in the tray: closing the log window must not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    return app;
}

void PMWidgetsDesktopFace::start(PMDesktopHost &host)
{
    m_host = &host;
    m_menu = std::make_unique<PMTrayMenu>(host,
        PMTrayMenu::LogWindowControl {
            [this] { return isLogWindowVisible(); },
            [this] { showLogWindow(); },
            [this] { hideLogWindow(); },
            [this] { askToClearLog(); },
        });
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        m_tray = std::make_unique<QSystemTrayIcon>();
        m_tray->setContextMenu(m_menu.get());
        QObject::connect(
            m_tray.get(), &QSystemTrayIcon::activated, m_menu.get(), [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger)
                    isLogWindowVisible() ? hideLogWindow() : showLogWindow();
            });
        refreshTrayIcon();
        m_tray->show();
    }
}

std::unique_ptr<platform::AlertPresenter> PMWidgetsDesktopFace::createAlertPresenter()
{
    return std::make_unique<PMDialogAlertPresenter>();
}

void PMWidgetsDesktopFace::showActivity(const QVariantMap &progress)
{
    m_activity.update(progress);
    refreshTrayIcon();
}

PMLogWindow &PMWidgetsDesktopFace::logWindow()
{
    if (!m_logWindow) {
        m_logWindow = std::make_unique<PMLogWindow>(m_host ? m_host->logFrameAutosaveName() : QString());
        if (m_host) {
            m_logWindow->setTitle(m_host->logWindowTitle());
            m_host->attachLogView(m_logWindow.get());
        }
    }
    return *m_logWindow;
}

void PMWidgetsDesktopFace::showLogWindow()
{
    logWindow().show();
}

void PMWidgetsDesktopFace::hideLogWindow()
{
    if (m_logWindow)
        m_logWindow->hide();
}

bool PMWidgetsDesktopFace::isLogWindowVisible() const
{
    return m_logWindow && m_logWindow->isVisible();
}

void PMWidgetsDesktopFace::openLogFile()
{
    if (!m_host)
        return;
    const QString path = m_host->flushLog();
    if (!path.isEmpty())
        QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void PMWidgetsDesktopFace::showSyncPreview(PMSyncPreviewRequest request)
{
    auto *window = new PMSyncPreviewWindow(std::move(request));
    m_previews.emplace_back(window);
    window->show();
    window->raise();
    window->activateWindow();
}

std::vector<PMSyncPreviewWindow *> PMWidgetsDesktopFace::previewWindows() const
{
    std::vector<PMSyncPreviewWindow *> open;
    for (const QPointer<PMSyncPreviewWindow> &window : m_previews) {
        if (window)
            open.push_back(window.data());
    }
    return open;
}

void PMWidgetsDesktopFace::closeSyncPreviews()
{
    // Each window answers "apply nothing" as it goes.
    for (PMSyncPreviewWindow *window : previewWindows())
        delete window;
    m_previews.clear();
}

void PMWidgetsDesktopFace::stop()
{
    closeSyncPreviews();
    if (m_tray)
        m_tray->hide();
    m_tray.reset();
    if (m_logWindow && m_host)
        m_host->attachLogView(nullptr);
    m_logWindow.reset();
    m_menu.reset();
}

void PMWidgetsDesktopFace::askToClearLog()
{
    PMDesktopHost *host = m_host;
    logWindow().askToClear([host] {
        if (host)
            host->clearLog();
    });
}

void PMWidgetsDesktopFace::refreshTrayIcon()
{
    if (!m_tray)
        return;
    m_tray->setIcon(PMTrayIcons::icon(m_activity.state(), m_activity.percent()));
    m_tray->setToolTip(m_activity.toolTip());
}
