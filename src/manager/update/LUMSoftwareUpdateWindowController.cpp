#include "manager/update/LUMSoftwareUpdateWindowController.h"

#include "manager/client/LUMLog.h"
#include "manager/update/LUMAutoUpdate.h"
#include "manager/update/LUMUpdateStrings.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QDesktopServices>
#include <QDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QStyle>
#include <QThread>
#include <QVBoxLayout>

namespace {

constexpr const char *kClass = "LUMSoftwareUpdateWindowController";

const QString kUpdateType = QStringLiteral("UpdateType");
const QString kNewVersion = QStringLiteral("new-Version");
const QString kSWURL = QStringLiteral("SWURL");

enum Answer { Ok = 0, Cancel = 1, MoreInfo = 2 };

} // namespace

LUMSoftwareUpdateWindowController::LUMSoftwareUpdateWindowController(LUMAutoUpdate *autoUpdate, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_autoUpdate(autoUpdate)
    , m_openUrl([](const QUrl &url) { return QDesktopServices::openUrl(url); })
{
    setObjectName(QStringLiteral("LUMSoftwareUpdateWindow"));
    setWindowTitle(tr("Software Update"));
    buildWindow();
    buildSheet();
    if (m_autoUpdate)
        connectNotifications();
    connect(this, &LUMSoftwareUpdateWindowController::checkCompleted, this,
        &LUMSoftwareUpdateWindowController::onCheckCompleted, Qt::QueuedConnection);

    const QByteArray saved = QSettings().value(kFrameKey).toByteArray();
    if (saved.isEmpty() || !restoreGeometry(saved)) {
        adjustSize();
        if (const QScreen *screen = QGuiApplication::primaryScreen())
            move(screen->availableGeometry().center() - rect().center());
    }
}

LUMSoftwareUpdateWindowController::~LUMSoftwareUpdateWindowController()
{
    // The check cannot be interrupted; its result has nowhere to go once the window is gone.
    if (m_checkThread) {
        m_checkThread->wait();
        delete m_checkThread;
    }
}

void LUMSoftwareUpdateWindowController::buildWindow()
{
    auto *layout = new QVBoxLayout(this);
    auto *intro = new QLabel(tr("Pellmere can look for a newer version of itself and install it."), this);
    intro->setWordWrap(true);
    layout->addWidget(intro);

    auto *row = new QHBoxLayout;
    auto *label = new QLabel(tr("&Check for updates:"), this);
    m_interval = new QComboBox(this);
    label->setBuddy(m_interval);
    m_interval->setAccessibleName(tr("How often to check for updates"));
    m_interval->addItem(tr("Never"), 0);
    m_interval->addItem(tr("Each time Pellmere starts"), 1);
    m_interval->addItem(tr("Daily"), 2);
    m_interval->addItem(tr("Weekly"), 3);
    m_interval->addItem(tr("Monthly"), 4);
    row->addWidget(label);
    row->addWidget(m_interval, 1);
    layout->addLayout(row);

    auto *actions = new QHBoxLayout;
    m_checkProgress = new QProgressBar(this);
    m_checkProgress->setRange(0, 0);
    m_checkProgress->setTextVisible(false);
    m_checkProgress->setMaximumWidth(80);
    m_checkProgress->setAccessibleName(tr("Checking for updates"));
    m_checkProgress->hide();
    m_status = new QLabel(this);
    m_status->setAccessibleName(tr("Update status"));
    m_checkButton = new QPushButton(tr("Check &Now"), this);
    m_checkButton->setAccessibleName(tr("Check for updates now"));
    m_checkButton->setDefault(true);
    actions->addWidget(m_checkProgress);
    actions->addWidget(m_status, 1);
    actions->addWidget(m_checkButton);
    layout->addLayout(actions);
    layout->addStretch(1);
    setTabOrder(m_interval, m_checkButton);
    // Room for the progress sheet, which comes down over the window.
    setMinimumSize(480, 180);

    if (!m_autoUpdate) {
        m_interval->setEnabled(false);
        m_checkButton->setEnabled(false);
        m_status->setText(tr("Software update is not available."));
        return;
    }
    showLastCheck();
    const int current = int(m_autoUpdate->queryProperty(QStringLiteral("UpdateCheckInterval")).toLongLong());
    const int index = m_interval->findData(current);
    if (index >= 0)
        m_interval->setCurrentIndex(index);
    connect(m_interval, &QComboBox::activated, this, [this](int chosen) {
        m_autoUpdate->setProperty(QStringLiteral("UpdateCheckInterval"), qint64(m_interval->itemData(chosen).toInt()));
    });
    connect(m_checkButton, &QPushButton::clicked, this, [this] { checkForUpdate(false); });
}

void LUMSoftwareUpdateWindowController::buildSheet()
{
    m_panel = new QDialog(this, Qt::Sheet);
    m_panel->setObjectName(QStringLiteral("LUMSoftwareUpdateProgressSheet"));
    m_panel->setWindowTitle(tr("Software Update"));
    m_panel->setWindowModality(Qt::WindowModal);
    auto *layout = new QVBoxLayout(m_panel);
    m_text = new QLabel(m_panel);
    m_text->setAccessibleName(tr("Update progress"));
    m_text->setWordWrap(true);
    m_text->setMinimumWidth(360);
    m_downloadProgress = new QProgressBar(m_panel);
    m_downloadProgress->setAccessibleName(tr("Download progress"));
    m_downloadProgress->setTextVisible(false);
    m_abort = new QPushButton(tr("&Abort"), m_panel);
    m_abort->setAccessibleName(tr("Abort the update"));
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_abort);
    layout->addWidget(m_text);
    layout->addWidget(m_downloadProgress);
    layout->addLayout(buttons);
    connect(m_abort, &QPushButton::clicked, this, [this] { endSheet(0); });
    // Escape on the sheet is the abort button too.
    connect(m_panel, &QDialog::rejected, this, [this] {
        if (m_abort->isEnabled())
            endSheet(0);
    });
}

void LUMSoftwareUpdateWindowController::connectNotifications()
{
    connect(m_autoUpdate, &LUMAutoUpdate::downloadWillStart, this, [this](const QVariantMap &, const QString &path) {
        m_text->setText(tr("Downloading %1.").arg(LUMUpdateStrings::localizedPath(path)));
        setIndeterminate(true);
    });
    connect(m_autoUpdate, &LUMAutoUpdate::downloadInProgress, this,
        [this](const QVariantMap &, const QString &path, qint64 total, qint64 downloaded) {
            m_text->setText(tr("Downloading %1.").arg(LUMUpdateStrings::localizedPath(path)));
            // The server did not say how much comes: the bar keeps moving without a value.
            if (total <= 0)
                return;
            if (!m_determinate) {
                m_determinate = true;
                m_downloadProgress->setRange(0, 100);
            }
            m_downloadProgress->setValue(int(qBound(qint64(0), downloaded * 100 / total, qint64(100))));
        });
    connect(m_autoUpdate, &LUMAutoUpdate::mounting, this, [this](const QVariantMap &, const QString &path) {
        m_text->setText(tr("Unpacking %1.").arg(LUMUpdateStrings::localizedPath(path)));
        setIndeterminate(true);
        m_abort->setEnabled(false);
    });
    connect(m_autoUpdate, &LUMAutoUpdate::launchingPackage, this,
        [this] { m_text->setText(tr("Installing the new version.")); });
    connect(m_autoUpdate, &LUMAutoUpdate::completed, this, [this] {
        m_text->setText(tr("Completed."));
        m_determinate = true;
        m_downloadProgress->setRange(0, 100);
        m_downloadProgress->setValue(100);
        m_abort->setEnabled(true);
        endSheet(1);
    });
    connect(m_autoUpdate, &LUMAutoUpdate::downloadFailed, this, [this](const QVariantMap &, int error) {
        m_determinate = true;
        m_downloadProgress->setRange(0, 100);
        m_downloadProgress->setValue(0);
        m_abort->setEnabled(true);
        m_panel->hide();
        showAlert(
            tr("Error occurred while performing the update."), tr("Error %1.").arg(error), { tr("OK") }, [](int) {});
    });
}

void LUMSoftwareUpdateWindowController::setIndeterminate(bool animating)
{
    m_determinate = false;
    m_downloadProgress->setRange(0, animating ? 0 : 100);
    m_downloadProgress->setValue(0);
}

void LUMSoftwareUpdateWindowController::showLastCheck()
{
    const QDateTime last = m_autoUpdate->queryProperty(QStringLiteral("LastCheckTimestamp")).toDateTime();
    m_status->setText(last.isValid()
            ? tr("Last checked: %1").arg(QLocale().toString(last.toLocalTime(), QLocale::ShortFormat))
            : tr("Not checked yet."));
}

void LUMSoftwareUpdateWindowController::showWindow()
{
    show();
    raise();
    activateWindow();
}

void LUMSoftwareUpdateWindowController::initialCheckForUpdate()
{
    if (m_autoUpdate && !m_autoUpdate->updateInfo().isEmpty()) {
        showWindow();
        offerUpdate();
    }
}

void LUMSoftwareUpdateWindowController::checkForUpdate(bool fromApplication)
{
    if (!m_autoUpdate || m_checkThread)
        return;
    m_fromApplication = fromApplication;
    m_checkProgress->show();
    m_checkButton->setEnabled(false);
    m_status->setText(tr("Checking…"));
    LUMAutoUpdate *autoUpdate = m_autoUpdate;
    // The service may take its time; the window stays responsive meanwhile.
    m_checkThread = QThread::create([this, autoUpdate] { Q_EMIT checkCompleted(autoUpdate->checkForUpdate()); });
    m_checkThread->start();
}

void LUMSoftwareUpdateWindowController::onCheckCompleted(const QVariantMap &updateInfo)
{
    if (m_checkThread) {
        m_checkThread->wait();
        delete m_checkThread;
        m_checkThread = nullptr;
    }
    m_checkProgress->hide();
    m_checkButton->setEnabled(true);
    showLastCheck();
    if (!updateInfo.isEmpty()) {
        offerUpdate();
        return;
    }
    if (m_fromApplication) {
        close();
        return;
    }
    showAlert(tr("Your Pellmere software is up to date."), QString(), { tr("OK") }, [](int) {});
}

void LUMSoftwareUpdateWindowController::offerUpdate()
{
    const QVariantMap info = m_autoUpdate->updateInfo();
    if (info.isEmpty() || !isVisible())
        return;
    const bool urlType = info.value(kUpdateType).toString() == QLatin1String("URL");
    const QString version = info.value(kNewVersion).toString();
    const QString text = urlType
        ? tr("Version %1 is now available. Do you want to open the download page?").arg(version)
        : tr("Version %1 is now available. Do you want to download it?").arg(version);
    QStringList buttons { tr("OK"), tr("Cancel") };
    if (!urlType)
        buttons.append(tr("More Info..."));
    showAlert(tr("New software is available for your drive."), text, buttons,
        [this, info](int answer) { onAlertAnswer(info, answer); });
}

void LUMSoftwareUpdateWindowController::onAlertAnswer(const QVariantMap &info, int answer)
{
    const bool urlType = info.value(kUpdateType).toString() == QLatin1String("URL");
    if (answer == Ok && urlType) {
        m_openUrl(QUrl(info.value(kSWURL).toString()));
    } else if (answer == Ok) {
        startDownload();
    } else if (answer == MoreInfo) {
        m_openUrl(
            QUrl(LUMUpdateStrings::replaceLang(m_autoUpdate->productPage(), QProcessEnvironment::systemEnvironment())));
        close();
    }
}

void LUMSoftwareUpdateWindowController::startDownload()
{
    m_text->clear();
    setIndeterminate(true);
    m_abort->setEnabled(true);
    m_panel->open();
    if (m_autoUpdate->downloadUpdateAsync())
        return;
    m_panel->hide();
    showAlert(tr("An error occurred."), tr("Unable to perform download."), { tr("OK") }, [](int) {});
}

void LUMSoftwareUpdateWindowController::endSheet(int returnCode)
{
    if (returnCode == 0) {
        m_autoUpdate->abortDownload();
        m_text->setText(tr("Download aborted."));
        m_determinate = true;
        m_downloadProgress->setRange(0, 100);
        m_downloadProgress->setValue(0);
    }
    m_panel->hide();
    close();
}

void LUMSoftwareUpdateWindowController::showAlert(
    const QString &message, const QString &informative, const QStringList &buttons, std::function<void(int)> onAnswer)
{
    if (m_alert)
        m_alert->deleteLater();
    auto *alert = new QMessageBox(this);
    alert->setObjectName(QStringLiteral("LUMSoftwareUpdateAlert"));
    alert->setWindowTitle(tr("Software Update"));
    alert->setWindowModality(Qt::WindowModal);
    alert->setText(message);
    alert->setInformativeText(informative);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    QList<QAbstractButton *> added;
    for (qsizetype i = 0; i < buttons.size(); ++i) {
        const QMessageBox::ButtonRole role
            = i == 0 ? QMessageBox::AcceptRole : (i == 1 ? QMessageBox::RejectRole : QMessageBox::HelpRole);
        QPushButton *button = alert->addButton(buttons.at(i), role);
        button->setAccessibleName(buttons.at(i));
        added.append(button);
    }
    alert->setDefaultButton(qobject_cast<QPushButton *>(added.value(0)));
    connect(alert, &QMessageBox::buttonClicked, this,
        [added, onAnswer](QAbstractButton *button) { onAnswer(int(added.indexOf(button))); });
    m_alert = alert;
    alert->open();
}

void LUMSoftwareUpdateWindowController::closeEvent(QCloseEvent *event)
{
    QSettings().setValue(kFrameKey, saveGeometry());
    QWidget::closeEvent(event);
}
