#include "agent/desktop/PMTrayMenu.h"

#include "agent/app/PMDesktopFace.h"

#include <QDesktopServices>
#include <QUrl>

PMTrayMenu::PMTrayMenu(PMDesktopHost &host, LogWindowControl logWindow, QWidget *parent)
    : QMenu(parent)
    , m_host(host)
    , m_logWindow(std::move(logWindow))
{
    m_toggleLog = addAction(tr("Show Log"));
    connect(m_toggleLog, &QAction::triggered, this, [this] {
        if (m_logWindow.isVisible && m_logWindow.isVisible()) {
            if (m_logWindow.hide)
                m_logWindow.hide();
        } else if (m_logWindow.show) {
            m_logWindow.show();
        }
        validateItems();
    });
    m_clearLog = addAction(tr("Clear Log..."));
    connect(m_clearLog, &QAction::triggered, this, [this] {
        if (m_logWindow.askToClear)
            m_logWindow.askToClear();
    });
    addSeparator();
    m_debug = addAction(tr("Debug Mode"));
    m_debug->setCheckable(true);
    // triggered() has already flipped the check mark; the saved default is what counts.
    connect(m_debug, &QAction::triggered, this, [this] {
        m_host.setDebugMode(!m_host.debugMode());
        validateItems();
    });
    m_selectDevice = addAction(tr("Select Device..."));
    connect(m_selectDevice, &QAction::triggered, this, [this] { m_host.selectDevice(); });
    m_help = addAction(tr("Pellmere Help"));
    connect(m_help, &QAction::triggered, this, [this] {
        const QUrl help = m_host.helpUrl();
        if (help.isValid())
            QDesktopServices::openUrl(help);
    });
    addSeparator();
    m_quit = addAction(tr("Quit Pellmere"));
    connect(m_quit, &QAction::triggered, this, [this] { m_host.quit(); });

    connect(this, &QMenu::aboutToShow, this, &PMTrayMenu::validateItems);
    validateItems();
}

void PMTrayMenu::validateItems()
{
    const bool visible = m_logWindow.isVisible && m_logWindow.isVisible();
    m_toggleLog->setText(visible ? tr("Hide Log") : tr("Show Log"));
    m_debug->setChecked(m_host.debugMode());
    for (QAction *action : actions())
        action->setEnabled(true);
}
