#include "manager/window/LUMMainWindow.h"

#include "manager/client/LUMPellmereInterface.h"
#include "manager/volumes/LUMVolumeBase.h"
#include "manager/volumes/LUMVolumeListModel.h"
#include "manager/widgets/LUMCopyImageView.h"
#include "manager/widgets/LUMCustomProgressIndicator.h"
#include "manager/widgets/LUMFadeBox.h"
#include "manager/widgets/LUMGradientView.h"
#include "manager/widgets/LUMOnOffButton.h"
#include "manager/widgets/LUMSyncButton.h"
#include "manager/widgets/LUMTableView.h"
#include "manager/window/LUMApplicationController.h"
#include "manager/window/LUMDefaultFolders.h"
#include "manager/window/LUMDeviceFilters.h"
#include "manager/window/LUMSyncHistoryDialog.h"
#include "manager/window/LUMVolumeItemDelegate.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListView>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSettings>
#include <QSignalBlocker>
#include <QSplitter>
#include <QStyle>
#include <QUrl>
#include <QVBoxLayout>

namespace {

QCheckBox *categoryBox(const QString &title, QWidget *parent)
{
    auto *box = new QCheckBox(title, parent);
    box->setAccessibleName(title);
    return box;
}

QWidget *section(QWidget *parent, QLabel **text, QStyle::StandardPixmap iconKind)
{
    auto *widget = new QWidget(parent);
    auto *layout = new QHBoxLayout(widget);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *icon = new QLabel(widget);
    icon->setPixmap(parent->style()->standardIcon(iconKind).pixmap(32, 32));
    *text = new QLabel(widget);
    (*text)->setWordWrap(true);
    (*text)->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    (*text)->setFocusPolicy(Qt::TabFocus);
    layout->addWidget(icon);
    layout->addWidget(*text, 1);
    widget->hide();
    return widget;
}

} // namespace

LUMMainWindow::LUMMainWindow(LUMApplicationController &controller, QWidget *parent)
    : QMainWindow(parent)
    , m_controller(controller)
{
    setObjectName(QStringLiteral("LUMApplicationWindow"));
    setWindowTitle(tr("Pellmere"));
    buildMenus();

    auto *splitter = new QSplitter(this);
    m_volumeList = new QListView(splitter);
    m_volumeList->setModel(&m_controller.volumes());
    m_volumeList->setItemDelegate(new LUMVolumeItemDelegate(m_volumeList));
    m_volumeList->setSelectionMode(QAbstractItemView::SingleSelection);
    m_volumeList->setAccessibleName(tr("Drives"));
    m_volumeList->setMinimumWidth(200);
    splitter->addWidget(m_volumeList);
    splitter->addWidget(buildDrivePane());
    splitter->setStretchFactor(1, 1);
    setCentralWidget(splitter);

    connect(m_volumeList->selectionModel(), &QItemSelectionModel::currentChanged, this,
        [this](const QModelIndex &current) { m_controller.selectVolume(current.isValid() ? current.row() : -1); });
    connect(&m_controller, &LUMApplicationController::changed, this, &LUMMainWindow::refresh);
    connect(&m_controller, &LUMApplicationController::syncPlanChanged, this, [this](int plan) {
        if (QAbstractButton *button = m_planGroup->button(plan)) {
            const QSignalBlocker blocker(m_planGroup);
            button->setChecked(true);
        }
        applyButtonState();
    });
    connect(
        &m_controller.activity(), &LUMActivityState::buttonStateShouldUpdate, this, &LUMMainWindow::applyButtonState);
    connect(&m_controller.activity(), &LUMActivityState::copyCycle, m_copyImage, &LUMCopyImageView::showCopying);
    connect(&m_controller.client(), &LUMPellmereInterface::toolTipsChanged, this, &LUMMainWindow::refresh);
    // Like the list of a drive picker, the list keeps a drive selected while it has any.
    auto selectFirstIfNone = [this] {
        if (!m_volumeList->currentIndex().isValid() && m_controller.volumes().rowCount() > 0)
            m_volumeList->setCurrentIndex(m_controller.volumes().index(0));
    };
    connect(&m_controller.volumes(), &QAbstractItemModel::rowsInserted, this, selectFirstIfNone, Qt::QueuedConnection);
    connect(&m_controller.volumes(), &QAbstractItemModel::rowsRemoved, this, selectFirstIfNone, Qt::QueuedConnection);
    selectFirstIfNone();
    resize(860, 600);
    // The frame the user left the window in, else centred on the screen.
    const QByteArray saved = QSettings().value(kFrameKey).toByteArray();
    if (saved.isEmpty() || !restoreGeometry(saved)) {
        if (const QScreen *screen = QGuiApplication::primaryScreen())
            move(screen->availableGeometry().center() - rect().center());
    }
    refresh();
}

void LUMMainWindow::closeEvent(QCloseEvent *event)
{
    QSettings().setValue(kFrameKey, saveGeometry());
    QMainWindow::closeEvent(event);
}

void LUMMainWindow::buildMenus()
{
    QMenu *file = menuBar()->addMenu(tr("&File"));
    QAction *quit = file->addAction(tr("&Quit"), qApp, &QApplication::quit);
    quit->setShortcut(QKeySequence::Quit);
    QMenu *help = menuBar()->addMenu(tr("&Help"));
    QAction *helpAction = help->addAction(tr("Pellmere &Help"), this, [] {
        QDesktopServices::openUrl(QUrl(LUMMainWindow::kSupportPage + QStringLiteral("#LUM_SynchronizingFiles")));
    });
    helpAction->setShortcut(QKeySequence::HelpContents);
    help->addAction(tr("&Support Page"), this, [] { QDesktopServices::openUrl(QUrl(LUMMainWindow::kSupportPage)); });
    help->addSeparator();
    QAction *update = help->addAction(tr("Check for Software &Update…"), this, &LUMMainWindow::softwareUpdateRequested);
    update->setObjectName(QStringLiteral("softwareUpdateAction"));
}

QWidget *LUMMainWindow::buildDrivePane()
{
    auto *pane = new QWidget(this);
    auto *layout = new QVBoxLayout(pane);

    m_header = new LUMGradientView(pane);
    auto *headerLayout = new QHBoxLayout(m_header);
    m_driveTitle = new QLabel(m_header);
    QFont titleFont = m_driveTitle->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.3);
    m_driveTitle->setFont(titleFont);
    headerLayout->addWidget(m_driveTitle, 1);
    auto *participationLabel = new QLabel(tr("Sync with this drive"), m_header);
    m_participation = new LUMOnOffButton(m_header);
    m_participation->setAccessibleName(tr("Sync with this drive"));
    participationLabel->setBuddy(m_participation);
    headerLayout->addWidget(participationLabel);
    headerLayout->addWidget(m_participation);
    layout->addWidget(m_header);

    auto *planBox = new QGroupBox(tr("What to sync"), pane);
    auto *planLayout = new QVBoxLayout(planBox);
    m_planGroup = new QButtonGroup(planBox);
    const QString planTitles[] = { tr("All my media, for a device"), tr("All my media"), tr("Custom") };
    for (int plan = 1; plan <= 3; ++plan) {
        auto *button = new QRadioButton(planTitles[plan - 1], planBox);
        button->setAccessibleName(planTitles[plan - 1]);
        m_planGroup->addButton(button, plan);
        planLayout->addWidget(button);
    }
    auto *filterRow = new QHBoxLayout;
    auto *filterLabel = new QLabel(tr("Device:"), planBox);
    m_deviceFilters = new QComboBox(planBox);
    for (int filter = 0; filter < LUMDeviceFilters::kCount; ++filter) {
        m_deviceFilters->addItem(LUMDeviceFilters::name(filter), filter);
        m_deviceFilters->setItemData(filter, LUMDeviceFilters::toolTip(filter), Qt::ToolTipRole);
    }
    m_deviceFilters->setAccessibleName(tr("Device filter"));
    filterLabel->setBuddy(m_deviceFilters);
    filterRow->addWidget(filterLabel);
    filterRow->addWidget(m_deviceFilters, 1);
    planLayout->addLayout(filterRow);
    layout->addWidget(planBox);

    auto *listBox = new QGroupBox(tr("Sync list"), pane);
    auto *listLayout = new QVBoxLayout(listBox);
    m_syncPathsTable = new LUMTableView(listBox);
    m_syncPathsTable->setModel(&m_controller.syncPathsModel());
    m_syncPathsTable->horizontalHeader()->hide();
    m_syncPathsTable->horizontalHeader()->setStretchLastSection(true);
    m_syncPathsTable->verticalHeader()->hide();
    m_syncPathsTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_syncPathsTable->setSelectionMode(QAbstractItemView::SingleSelection);
    m_syncPathsTable->setDragDropMode(QAbstractItemView::DragDrop);
    m_syncPathsTable->setDefaultDropAction(Qt::MoveAction);
    m_syncPathsTable->setDragDropOverwriteMode(false);
    m_syncPathsTable->setDropIndicatorShown(true);
    m_syncPathsTable->setAccessibleName(tr("Folders and files to sync"));
    listLayout->addWidget(m_syncPathsTable);
    auto *buttons = new QHBoxLayout;
    m_addButton = new QPushButton(tr("Add…"), listBox);
    m_addButton->setAccessibleName(tr("Add a folder to the sync list"));
    m_removeButton = new QPushButton(tr("Remove"), listBox);
    m_removeButton->setAccessibleName(tr("Remove the selected item from the sync list"));
    buttons->addWidget(m_addButton);
    buttons->addWidget(m_removeButton);
    buttons->addStretch(1);
    listLayout->addLayout(buttons);
    m_defaultFolders = new QCheckBox(LUMDefaultFolders::defaultFoldersTitle(), listBox);
    m_defaultFolders->setAccessibleName(m_defaultFolders->text());
    listLayout->addWidget(m_defaultFolders);
    auto *categories = new QHBoxLayout;
    m_music = categoryBox(LUMDefaultFolders::musicName(), listBox);
    m_movies = categoryBox(LUMDefaultFolders::moviesName(), listBox);
    m_pictures = categoryBox(LUMDefaultFolders::picturesName(), listBox);
    m_documents = categoryBox(LUMDefaultFolders::documentsName(), listBox);
    for (QCheckBox *box : { m_music, m_movies, m_pictures, m_documents })
        categories->addWidget(box);
    categories->addStretch(1);
    listLayout->addLayout(categories);
    layout->addWidget(listBox, 1);

    auto *actions = new QHBoxLayout;
    m_historyButton = new QPushButton(tr("Sync History…"), pane);
    m_historyButton->setAccessibleName(tr("Sync history"));
    m_syncNow = new LUMSyncButton(pane);
    m_syncNow->setAccessibleName(tr("Sync now or stop the sync"));
    actions->addWidget(m_historyButton);
    actions->addStretch(1);
    actions->addWidget(m_syncNow);
    layout->addLayout(actions);
    layout->addWidget(buildActivityBox());

    LUMPellmereInterface &client = m_controller.client();
    connect(m_planGroup, &QButtonGroup::idClicked, &m_controller, &LUMApplicationController::changeSyncPlan);
    connect(m_deviceFilters, &QComboBox::activated, this,
        [this, &client](int index) { client.setSyncDeviceFilterMode(m_deviceFilters->itemData(index).toInt()); });
    connect(m_addButton, &QPushButton::clicked, this, &LUMMainWindow::chooseFolderToAdd);
    connect(m_removeButton, &QPushButton::clicked, this, [this] {
        const QModelIndex current = m_syncPathsTable->currentIndex();
        if (current.isValid())
            m_controller.syncPathsModel().removeRowAt(current.row());
    });
    connect(m_defaultFolders, &QCheckBox::clicked, this, [this] {
        // A click never leaves the box mixed: from mixed or off it adds, from on it removes.
        m_controller.setIncludeMediaFolders(m_controller.includeMediaFolders() == 1 ? 0 : 1);
    });
    connect(m_music, &QCheckBox::clicked, &client, &LUMPellmereInterface::setSyncMusicMode);
    connect(m_movies, &QCheckBox::clicked, &client, &LUMPellmereInterface::setSyncMoviesMode);
    connect(m_pictures, &QCheckBox::clicked, &client, &LUMPellmereInterface::setSyncPicturesMode);
    connect(m_documents, &QCheckBox::clicked, &client, &LUMPellmereInterface::setSyncDocumentsMode);
    connect(
        m_participation, &LUMOnOffButton::customStateChanged, &client, &LUMPellmereInterface::setSyncParticipateMode);
    connect(m_syncNow, &QAbstractButton::clicked, &m_controller, &LUMApplicationController::syncButtonToggled);
    connect(m_historyButton, &QPushButton::clicked, this, &LUMMainWindow::showHistory);

    // Reading order: drives, switch, plan, filter, list and its buttons, boxes, actions.
    QWidget *order[] = { m_volumeList, m_participation, m_planGroup->button(1), m_planGroup->button(2),
        m_planGroup->button(3), m_deviceFilters, m_syncPathsTable, m_addButton, m_removeButton, m_defaultFolders,
        m_music, m_movies, m_pictures, m_documents, m_historyButton, m_syncNow };
    for (std::size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
    return pane;
}

QWidget *LUMMainWindow::buildActivityBox()
{
    m_activityBox = new LUMFadeBox(this);
    m_activityBox->setAccessibleName(tr("Sync activity"));
    auto *layout = new QVBoxLayout(m_activityBox);
    m_progressSection = new QWidget(m_activityBox);
    auto *progressLayout = new QHBoxLayout(m_progressSection);
    progressLayout->setContentsMargins(0, 0, 0, 0);
    m_copyImage = new LUMCopyImageView(m_progressSection);
    m_copyImage->setFixedSize(120, 100);
    m_copyImage->setInitialFrame(QRectF(4, 64, 24, 24), 0.0);
    m_copyImage->setFinalFrame(QRectF(60, 44, 48, 48), 1.0);
    auto *barColumn = new QVBoxLayout;
    m_progressBar = new LUMCustomProgressIndicator(m_progressSection);
    m_progressBar->setRange(0, LUMActivityState::kBarMaximum);
    m_progressBar->setAccessibleName(tr("Sync progress"));
    m_progressBar->setFocusPolicy(Qt::TabFocus);
    m_progressText = new QLabel(m_progressSection);
    barColumn->addWidget(m_progressBar);
    barColumn->addWidget(m_progressText);
    progressLayout->addWidget(m_copyImage);
    progressLayout->addLayout(barColumn, 1);
    m_progressSection->hide();
    m_successSection = section(m_activityBox, &m_successText, QStyle::SP_MessageBoxInformation);
    m_failureSection = section(m_activityBox, &m_failureText, QStyle::SP_MessageBoxCritical);
    m_successText->setAccessibleName(tr("Sync result"));
    m_failureText->setAccessibleName(tr("Sync problem"));
    layout->addWidget(m_progressSection);
    layout->addWidget(m_successSection);
    layout->addWidget(m_failureSection);
    m_activityBox->hide();
    return m_activityBox;
}

QRadioButton *LUMMainWindow::planButton(int plan) const
{
    return qobject_cast<QRadioButton *>(m_planGroup->button(plan));
}

void LUMMainWindow::chooseFolderToAdd()
{
    auto *dialog = new QFileDialog(this, tr("Select files and folders to sync"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly, false);
    dialog->setLabelText(QFileDialog::Accept, tr("Add to Sync"));
    dialog->setWindowModality(Qt::WindowModal);
    connect(dialog, &QFileDialog::filesSelected, this, &LUMMainWindow::addChosenPaths);
    dialog->open();
}

void LUMMainWindow::addChosenPaths(const QStringList &paths)
{
    if (!m_controller.customControlsActive())
        return;
    if (!m_controller.syncPathsModel().appendPaths(paths)) {
        QMessageBox::warning(this, tr("Cannot Add"),
            tr("The root folder, drives and anything on them cannot be added to the sync list."));
    }
}

void LUMMainWindow::showHistory()
{
    if (!m_history)
        m_history = new LUMSyncHistoryDialog(this);
    m_history->setStatus(m_controller.syncHistory());
    m_history->open();
}

void LUMMainWindow::applyButtonState()
{
    refresh();
}

void LUMMainWindow::refresh()
{
    LUMPellmereInterface &client = m_controller.client();
    const LUMActivityState &activity = m_controller.activity();
    const bool hasDrive = m_controller.selectedVolume() != nullptr;
    const bool config = hasDrive && activity.configEnabled();
    const bool custom = hasDrive && m_controller.customControlsActive();

    m_driveTitle->setText(hasDrive ? m_controller.selectedVolume()->volumeName() : tr("No drive selected"));
    for (int plan = 1; plan <= 3; ++plan)
        m_planGroup->button(plan)->setEnabled(config);
    if (QAbstractButton *button = m_planGroup->button(m_controller.syncPlan()); button && !button->isChecked()) {
        const QSignalBlocker blocker(m_planGroup);
        button->setChecked(true);
    }
    {
        const QSignalBlocker blocker(m_deviceFilters);
        m_deviceFilters->setCurrentIndex(m_deviceFilters->findData(client.syncDeviceFilterMode()));
    }
    m_deviceFilters->setEnabled(custom);
    m_deviceFilters->setToolTip(m_controller.deviceFiltersToolTip());

    m_syncPathsTable->setEnabled(hasDrive);
    m_addButton->setEnabled(custom);
    m_removeButton->setEnabled(custom && m_controller.syncPathsModel().rowCount() > 0);
    m_defaultFolders->setEnabled(custom);
    {
        const QSignalBlocker blocker(m_defaultFolders);
        const int state = m_controller.includeMediaFolders();
        m_defaultFolders->setTristate(state == -1);
        m_defaultFolders->setCheckState(state == 1 ? Qt::Checked : state == 0 ? Qt::Unchecked : Qt::PartiallyChecked);
    }
    const std::pair<QCheckBox *, bool> categories[]
        = { { m_music, client.syncMusicMode() }, { m_movies, client.syncMoviesMode() },
              { m_pictures, client.syncPicturesMode() }, { m_documents, client.syncDocumentsMode() } };
    for (const auto &[box, on] : categories) {
        const QSignalBlocker blocker(box);
        box->setChecked(on);
        box->setEnabled(custom);
    }
    m_music->setToolTip(client.musicToolTip());
    m_movies->setToolTip(client.moviesToolTip());
    m_pictures->setToolTip(client.picturesToolTip());
    m_documents->setToolTip(client.documentsToolTip());
    {
        const QSignalBlocker blocker(m_participation);
        m_participation->setCustomState(client.syncParticipateMode());
    }
    m_participation->setEnabled(config);
    m_historyButton->setEnabled(hasDrive);

    // The button shows "Stop" exactly while a sync of this drive runs.
    if (m_syncNow->isChecked() != activity.syncNowState()) {
        const QSignalBlocker blocker(m_syncNow);
        m_syncNow->setChecked(activity.syncNowState());
    }
    const bool stopShown = m_syncNow->isChecked();
    const bool canStart = client.enableSyncNow() && m_controller.mounted();
    m_syncNow->setEnabled(hasDrive && activity.syncNowActiveEnable() && (stopShown || canStart));
    refreshActivity();
}

void LUMMainWindow::refreshActivity()
{
    const LUMActivityState &activity = m_controller.activity();
    const bool visible = activity.activityBoxVisible() && m_controller.selectedVolume() != nullptr;
    m_activityBox->setTitle(activity.boxTitle());
    const LUMActivityState::Section shown = activity.section();
    m_progressSection->setVisible(shown == LUMActivityState::Section::Progress);
    m_successSection->setVisible(shown == LUMActivityState::Section::Success);
    m_failureSection->setVisible(shown == LUMActivityState::Section::Failure);
    if (shown == LUMActivityState::Section::Progress) {
        m_progressBar->setIndeterminate(!activity.barDeterminate());
        if (activity.barDeterminate())
            m_progressBar->setValue(activity.barValue());
        if (!m_progressBar->isAnimating())
            m_progressBar->startAnimation();
    } else {
        m_progressBar->stopAnimation();
        m_progressBar->setValue(0);
        m_copyImage->stopAnimation();
    }
    m_progressBar->setToolTip(activity.progressLegendToolTip());
    m_progressText->setText(activity.progressText());
    m_successText->setText(activity.successText());
    m_failureText->setText(activity.failureText());
    if (visible != m_activityBox->isVisible())
        m_activityBox->setFadedVisible(visible);
}
