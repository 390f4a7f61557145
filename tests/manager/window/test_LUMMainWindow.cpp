// The main window over the controller: its controls follow the controller's state, hand the
// user's choices to it, show the activity sections, and are all reachable by keyboard with a
// name for assistive technology.
#include "WindowTestFixture.h"

#include "manager/widgets/LUMCustomProgressIndicator.h"
#include "manager/widgets/LUMFadeBox.h"
#include "manager/widgets/LUMOnOffButton.h"
#include "manager/widgets/LUMSyncButton.h"
#include "manager/widgets/LUMTableView.h"
#include "manager/window/LUMDeviceFilters.h"
#include "manager/window/LUMMainWindow.h"
#include "manager/window/LUMSyncHistoryDialog.h"
#include "netstorage/PMNetServiceMapper.h"
#include "support/ScriptedReachability.h"
#include "support/ScriptedShareService.h"
#include "support/TestEnvironment.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QSettings>
#include <QTest>

namespace windowtest {
namespace {

class MainWindowTest : public WindowFixture {
protected:
    void SetUp() override
    {
        WindowFixture::SetUp();
        createMediaFolders();
        m_drive = m_scratch.filePath(QStringLiteral("media/Backup"));
        QDir().mkpath(m_drive);
        m_monitor->list(m_drive, QStringLiteral("Backup"));
        m_window = std::make_unique<LUMMainWindow>(*m_controller);
        m_window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window.get()));
    }
    void TearDown() override
    {
        m_window.reset();
        WindowFixture::TearDown();
    }
    QVariantMap report(int type, quint64 total, quint64 copied) const
    {
        return { { QStringLiteral("syncActivityType"), type }, { QStringLiteral("syncIsBusy"), true },
            { QStringLiteral("activePath"), m_drive }, { QStringLiteral("syncSize"), total },
            { QStringLiteral("syncCopied"), copied } };
    }
    QString m_drive;
    std::unique_ptr<LUMMainWindow> m_window;
};

TEST_F(MainWindowTest, TheListedDriveIsSelectedAndItsControlsFollowThePlan)
{
    ASSERT_TRUE(testsupport::waitFor([&] { return m_controller->selectedRow() == 0; }));
    EXPECT_EQ(m_client->syncDestinationPath(), m_drive);
    EXPECT_TRUE(m_window->planButton(3)->isChecked()) << "an empty list is a custom plan";
    EXPECT_TRUE(m_window->addButton()->isEnabled());

    m_window->planButton(2)->click();
    EXPECT_EQ(m_controller->syncPlan(), 2);
    EXPECT_FALSE(m_window->addButton()->isEnabled());
    EXPECT_FALSE(m_window->musicBox()->isEnabled());
    EXPECT_TRUE(m_window->musicBox()->isChecked());
    EXPECT_EQ(m_window->defaultFoldersBox()->checkState(), Qt::Checked);
    EXPECT_EQ(m_window->syncPathsTable()->model()->rowCount(), 3);
    EXPECT_EQ(m_window->deviceFilterPopUp()->currentData().toInt(), 0);

    m_window->planButton(3)->click();
    EXPECT_TRUE(m_window->musicBox()->isEnabled());
    m_window->musicBox()->click();
    EXPECT_FALSE(m_client->syncMusicMode());
    EXPECT_EQ(m_window->musicBox()->toolTip(), m_client->musicToolTip());
    m_window->defaultFoldersBox()->click();
    EXPECT_EQ(m_client->syncPaths().size(), 0);
    EXPECT_EQ(m_window->defaultFoldersBox()->checkState(), Qt::Unchecked);

    // The device filter pop-up: no filter and the eight device classes, each explained.
    QComboBox *filters = m_window->deviceFilterPopUp();
    ASSERT_EQ(filters->count(), 9);
    for (int i = 1; i < filters->count(); ++i) {
        EXPECT_EQ(filters->itemData(i).toInt(), i);
        EXPECT_FALSE(filters->itemData(i, Qt::ToolTipRole).toString().isEmpty());
    }
    filters->setCurrentIndex(5);
    Q_EMIT filters->activated(5);
    EXPECT_EQ(m_client->syncDeviceFilterMode(), 5);
    EXPECT_EQ(filters->toolTip(), LUMDeviceFilters::toolTip(5));

    m_window->participationSwitch()->setCustomState(true);
    EXPECT_TRUE(m_client->syncParticipateMode());
}

TEST_F(MainWindowTest, TheActivityBoxShowsProgressThenTheOutcome)
{
    ASSERT_TRUE(testsupport::waitFor([&] { return m_controller->selectedRow() == 0; }));
    EXPECT_FALSE(m_window->activityBox()->isVisible());
    m_controller->activity().updateActivity(report(2, 1000, 250));
    ASSERT_TRUE(testsupport::waitFor([&] { return m_window->activityBox()->isVisible(); }));
    EXPECT_TRUE(m_window->progressSection()->isVisible());
    EXPECT_FALSE(m_window->successSection()->isVisible());
    EXPECT_EQ(m_window->progressBar()->value(), 250);
    EXPECT_TRUE(m_window->progressBar()->isAnimating());
    EXPECT_FALSE(m_window->progressText()->text().isEmpty());
    EXPECT_FALSE(m_window->progressBar()->toolTip().isEmpty());
    EXPECT_TRUE(m_window->syncNowButton()->isChecked()) << "a sync of this drive turns the button to stop";
    EXPECT_FALSE(m_window->planButton(1)->isEnabled()) << "no plan change while this drive syncs";

    m_controller->activity().updateActivity(report(6, 1000, 1000));
    EXPECT_TRUE(m_window->successSection()->isVisible());
    EXPECT_FALSE(m_window->progressSection()->isVisible());
    EXPECT_FALSE(m_window->progressBar()->isAnimating());
    EXPECT_FALSE(m_window->syncNowButton()->isChecked());
    EXPECT_EQ(m_window->activityBox()->title(), m_controller->activity().boxTitle());

    QVariantMap failed = report(5, 0, 0);
    failed.insert(QStringLiteral("syncActivityFailureType"), 6);
    m_controller->activity().updateActivity(failed);
    EXPECT_TRUE(m_window->failureSection()->isVisible());
    EXPECT_EQ(m_window->failureText()->text(), m_controller->activity().failureText());
}

TEST_F(MainWindowTest, EveryControlIsNamedAndReachableByTab)
{
    const QList<QWidget *> controls { m_window->volumeList(), m_window->participationSwitch(), m_window->planButton(1),
        m_window->planButton(2), m_window->planButton(3), m_window->deviceFilterPopUp(), m_window->syncPathsTable(),
        m_window->addButton(), m_window->removeButton(), m_window->defaultFoldersBox(), m_window->musicBox(),
        m_window->moviesBox(), m_window->picturesBox(), m_window->documentsBox(), m_window->historyButton(),
        m_window->syncNowButton() };
    for (QWidget *control : controls) {
        EXPECT_FALSE(control->accessibleName().isEmpty()) << control->metaObject()->className();
        EXPECT_TRUE(control->focusPolicy() & Qt::TabFocus) << control->accessibleName().toStdString();
    }
    // Following the tab chain from the drive list passes every control in reading order.
    QList<QWidget *> chain;
    QWidget *widget = m_window->volumeList();
    for (int steps = 0; steps < 200 && chain.size() < controls.size(); ++steps) {
        if (controls.contains(widget) && !chain.contains(widget))
            chain.append(widget);
        widget = widget->nextInFocusChain();
    }
    EXPECT_EQ(chain, controls);
}

TEST_F(MainWindowTest, TheHistorySheetOpensOnTheWindow)
{
    ASSERT_TRUE(testsupport::waitFor([&] { return m_controller->selectedRow() == 0; }));
    m_window->historyButton()->click();
    ASSERT_NE(m_window->historyDialog(), nullptr);
    EXPECT_TRUE(m_window->historyDialog()->isVisible());
    EXPECT_EQ(m_window->historyDialog()->parentWidget(), m_window.get());
    m_window->historyDialog()->setStatus(
        { { QStringLiteral("alice"), QVariantMap { { QStringLiteral("lastSync"), 1 } } },
            { QStringLiteral("bob"), 2 } });
    EXPECT_EQ(m_window->historyDialog()->rowCount(), 2);
    m_window->historyDialog()->accept();
    EXPECT_FALSE(m_window->historyDialog()->isVisible());
}

TEST_F(MainWindowTest, TheHelpMenuAsksForTheSoftwareUpdateWindow)
{
    auto *action = m_window->findChild<QAction *>(QStringLiteral("softwareUpdateAction"));
    ASSERT_NE(action, nullptr);
    EXPECT_TRUE(action->isEnabled());
    int requests = 0;
    QObject::connect(m_window.get(), &LUMMainWindow::softwareUpdateRequested, [&] { ++requests; });
    action->trigger();
    EXPECT_EQ(requests, 1);
}

TEST_F(MainWindowTest, TheWindowReopensWhereItWasLeft)
{
    const QSize size(700, 520);
    m_window->resize(size);
    m_window->close();
    EXPECT_FALSE(QSettings().value(LUMMainWindow::kFrameKey).toByteArray().isEmpty());
    LUMMainWindow again(*m_controller);
    EXPECT_EQ(again.size(), size);
    QSettings().remove(LUMMainWindow::kFrameKey);
}

TEST_F(MainWindowTest, AddingRefusesADrive)
{
    ASSERT_TRUE(testsupport::waitFor([&] { return m_controller->selectedRow() == 0; }));
    const QString folder = m_scratch.filePath(QStringLiteral("home/Work"));
    QDir().mkpath(folder);
    m_window->addChosenPaths({ folder });
    EXPECT_EQ(m_client->syncPaths(), QStringList({ folder }));
    EXPECT_TRUE(m_window->removeButton()->isEnabled());
    // A refusal says so in a message box; close it as soon as it shows.
    QTimer::singleShot(0, [] {
        if (QWidget *box = QApplication::activeModalWidget())
            box->close();
    });
    m_window->addChosenPaths({ m_drive });
    EXPECT_EQ(m_client->syncPaths(), QStringList({ folder }));
    m_window->syncPathsTable()->setCurrentIndex(m_window->syncPathsTable()->model()->index(0, 0));
    m_window->removeButton()->click();
    EXPECT_TRUE(m_client->syncPaths().isEmpty());
}

TEST_F(MainWindowTest, AMappedShareShowsAsTheDevicesRowWithItsShareAndSelectingItMakesItTheDestination)
{
    ASSERT_TRUE(testsupport::waitFor([&] { return m_controller->selectedRow() == 0; }));
    testsupport::ScriptedShareService shares;
    testsupport::ScriptedReachability reachability;
    PMNetServiceMapper mapper(&shares);
    m_monitor->followShareMapper(&mapper, &shares);
    const auto unfollow = qScopeGuard([&] { m_monitor->followShareMapper(nullptr, nullptr); });
    const QString host = QStringLiteral("192.168.7.20");
    reachability.setReachable(host, true);
    auto den = PMNetServicePtr::create(&shares, &reachability);
    den->setServiceName(QStringLiteral("Den"));
    den->setIp4Addresses({ host }, host);
    const QString share = m_scratch.filePath(QStringLiteral("gvfs/music"));
    QDir().mkpath(share);
    shares.addForeignMount(share, host + QStringLiteral("/Music"));

    Q_EMIT mapper.netServiceMapped(share, den);
    QListView *list = m_window->volumeList();
    ASSERT_TRUE(testsupport::waitFor([&] { return list->model()->rowCount() == 2; }));
    const QModelIndex drive = list->model()->index(0, 0);
    const QModelIndex remote = list->model()->index(1, 0);
    EXPECT_EQ(remote.data().toString(), QStringLiteral("Den"));
    EXPECT_EQ(remote.data(LUMVolumeListModel::PartitionRole).toString(), QStringLiteral("Music"));
    EXPECT_TRUE(remote.data(LUMVolumeListModel::CapacityTextRole).toString().contains(QStringLiteral(" free of ")));
    // The share's name takes a line of its own between the name and the capacity.
    QStyleOptionViewItem option;
    option.initFrom(list);
    EXPECT_GT(list->itemDelegate()->sizeHint(option, remote).height(),
        list->itemDelegate()->sizeHint(option, drive).height());

    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(remote).center());
    ASSERT_TRUE(testsupport::waitFor([&] { return m_controller->selectedRow() == 1; }));
    EXPECT_EQ(m_client->syncDestinationPath(), share);
}

} // namespace
} // namespace windowtest
