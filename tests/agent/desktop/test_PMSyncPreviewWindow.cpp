// The sync preview window: the plan of a sync shown before it is applied. Clicks on its cells
// switch rows off and choose the winning side, exactly as the table's rules say, and what the
// window leaves in the scan results is what the job applies; the "Left out" tab tells what
// the media filter refused and why.
#include "agent/app/PMDesktopPreviewPresenter.h"
#include "agent/desktop/PMPreviewHighlightModel.h"
#include "agent/desktop/PMSyncPreviewWindow.h"
#include "agent/desktop/PMWidgetsDesktopFace.h"
#include "agent/sync/PMPreviewSyncEntry.h"
#include "agent/sync/PMPreviewTableDataSource.h"
#include "agent/sync/PMSyncController.h"
#include "agent/sync/PMSyncJob.h"
#include "support/TestEnvironment.h"

#include "agent/sync/SyncTestDoubles.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <optional>

using namespace synctest;

namespace {

const QString kUser = QStringLiteral("0A1B2C3D4E5F-501");
const QString kTemp = QStringLiteral("/tmp/PM-local-temp");

// Column order of the window (PMDesktopPreviewPresenter::columns()).
constexpr int kEnabledColumn = 0;
constexpr int kTypeColumn = 1;
constexpr int kNameColumn = 2;
constexpr int kLocationColumn = 3;
constexpr int kLocalColumn = 4;
constexpr int kDriveColumn = 5;

PMScanEntry entry(quint8 type, quint8 action, const QString &name)
{
    PMScanEntry e;
    e.type = type;
    e.action = action;
    e.localPath = kTemp + QStringLiteral("/~/Music/") + name;
    e.tavrinPath = QStringLiteral("/media/Stick/alice_Studio/Music/") + name;
    return e;
}

void click(QTableView *view, int row, int column)
{
    const QModelIndex index = view->model()->index(row, column);
    ASSERT_TRUE(index.isValid());
    view->scrollTo(index);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(index).center());
}

class PreviewWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_results->setLocalTempPath(kTemp);
        PMScanEntry added = entry(PMScanEntry::kTypeNew, PMScanEntry::kActionCopyToDrive, QStringLiteral("new.mp3"));
        added.localSize = 1023;
        m_results->addEntryToScanResults(added);
        PMScanEntry overwrite
            = entry(PMScanEntry::kTypeOverwrite, PMScanEntry::kActionCopyToDrive, QStringLiteral("changed.mp3"));
        overwrite.localSize = 1024;
        overwrite.tavrinSize = 1024000;
        m_results->addEntryToScanResults(overwrite);
        m_results->addEntryToScanResults(
            entry(PMScanEntry::kTypeConflict, PMScanEntry::kActionCopyToDrive, QStringLiteral("both.mp3")));
        PMScanEntry goneHere
            = entry(PMScanEntry::kTypeDelete, PMScanEntry::kActionDeleteOnDrive, QStringLiteral("gone-here.mp3"));
        goneHere.tavrinSize = 1024000000;
        m_results->addEntryToScanResults(goneHere);
        m_results->addEntryToScanResults(
            entry(PMScanEntry::kTypeDelete, PMScanEntry::kActionDeleteLocal, QStringLiteral("gone-there.mp3")));
    }

    // Shows the results through the agent's presenter and answers the window.
    PMSyncPreviewWindow *present()
    {
        PMLeftOutList leftOut;
        leftOut.record(QStringLiteral("/home/alice/Movies/hd.mp4"),
            PMFilterRefusal { PMFilterRefusal::Kind::CodecRule, PMFilterRefusal::Property::PictureSize,
                QStringLiteral("PMH264LowCodecValidator"), QStringLiteral("1280 x 720 over 640 x 480") });
        m_presenter.present(
            { QStringLiteral("Stick"), m_results, leftOut.items() }, [this](bool apply) { m_answers.append(apply); });
        const std::vector<PMSyncPreviewWindow *> windows = m_face.previewWindows();
        return windows.size() == 1 ? windows.front() : nullptr;
    }

    std::shared_ptr<PMScanResults> m_results = std::make_shared<PMScanResults>();
    // Before the presenter: a window still open at the end answers as the presenter goes.
    QList<bool> m_answers;
    PMWidgetsDesktopFace m_face;
    PMDesktopPreviewPresenter m_presenter { m_face };
};

TEST_F(PreviewWindowTest, TheTableShowsEveryChangeWithItsLocationSizesAndDeletedSides)
{
    PMSyncPreviewWindow *window = present();
    ASSERT_NE(window, nullptr);
    const QAbstractItemModel *shown = window->changesView()->model();
    ASSERT_EQ(shown->rowCount(), 5);
    ASSERT_EQ(shown->columnCount(), 6);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Sync Preview - Stick"));

    // The location is the path below the local temporary folder, "~" expanded.
    EXPECT_EQ(shown->index(0, kLocationColumn).data().toString(), QDir::homePath() + QStringLiteral("/Music/new.mp3"));
    EXPECT_EQ(shown->index(0, kNameColumn).data().toString(), QStringLiteral("new.mp3"));
    const QStringList types { shown->index(0, kTypeColumn).data().toString(),
        shown->index(1, kTypeColumn).data().toString(), shown->index(2, kTypeColumn).data().toString(),
        shown->index(3, kTypeColumn).data().toString() };
    EXPECT_EQ(types,
        (QStringList { QStringLiteral("New"), QStringLiteral("Overwrite"), QStringLiteral("Conflict"),
            QStringLiteral("Delete") }));
    EXPECT_EQ(shown->index(0, kLocalColumn).data().toString(), QStringLiteral("1023 bytes"));
    EXPECT_EQ(shown->index(1, kLocalColumn).data().toString(), QStringLiteral("1 KB"));
    EXPECT_EQ(shown->index(1, kDriveColumn).data().toString(), QStringLiteral("1 MB"));
    // Deleting on the drive: the computer's side is gone; deleting here: the drive's.
    EXPECT_EQ(shown->index(3, kLocalColumn).data().toString(), QStringLiteral("DELETED"));
    EXPECT_EQ(shown->index(3, kDriveColumn).data().toString(), QStringLiteral("1 GB"));
    EXPECT_EQ(shown->index(4, kDriveColumn).data().toString(), QStringLiteral("DELETED"));
    // Every row starts switched on.
    for (int row = 0; row < 5; ++row) {
        EXPECT_EQ(shown->index(row, kEnabledColumn).data(Qt::CheckStateRole).toInt(), Qt::Checked) << row;
        EXPECT_FALSE(shown->index(row, kEnabledColumn).data().isValid()) << "a box, not the word \"true\"";
    }

    // The side that wins is highlighted: the computer's for a copy, the drive's for a
    // deletion here; the other side keeps the table's own background.
    const QColor highlight = PMPreviewHighlightModel::highlightColor();
    EXPECT_EQ(highlight, QColor::fromRgbF(0.6f, 0.7f, 0.6f));
    EXPECT_EQ(shown->index(1, kLocalColumn).data(Qt::BackgroundRole).value<QColor>(), highlight);
    EXPECT_FALSE(shown->index(1, kDriveColumn).data(Qt::BackgroundRole).isValid());
    EXPECT_EQ(shown->index(4, kDriveColumn).data(Qt::BackgroundRole).value<QColor>(), highlight);
    EXPECT_FALSE(shown->index(1, kNameColumn).data(Qt::BackgroundRole).isValid());
}

TEST_F(PreviewWindowTest, ClicksSwitchRowsOffAndChooseTheWinningSideOnlyWhereTheRulesAllow)
{
    PMSyncPreviewWindow *window = present();
    ASSERT_NE(window, nullptr);
    QTableView *view = window->changesView();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));

    // The drive's side of an overwrite wins when clicked, and the computer's again after.
    click(view, 1, kDriveColumn);
    EXPECT_EQ(m_results->at(1).action, PMScanEntry::kActionDriveIsNewer);
    EXPECT_EQ(view->model()->index(1, kDriveColumn).data(Qt::BackgroundRole).value<QColor>(),
        PMPreviewHighlightModel::highlightColor());
    EXPECT_FALSE(view->model()->index(1, kLocalColumn).data(Qt::BackgroundRole).isValid());
    click(view, 1, kLocalColumn);
    EXPECT_EQ(m_results->at(1).action, PMScanEntry::kActionCopyToDrive);

    // The computer's side of a conflict that it already wins: nothing changes.
    click(view, 2, kLocalColumn);
    EXPECT_EQ(m_results->at(2).action, PMScanEntry::kActionCopyToDrive);
    // A new file has no side to choose.
    click(view, 0, kDriveColumn);
    click(view, 0, kLocalColumn);
    EXPECT_EQ(m_results->at(0).action, PMScanEntry::kActionCopyToDrive);
    // A deletion ignores clicks on the sides as well.
    click(view, 3, kDriveColumn);
    EXPECT_EQ(m_results->at(3).action, PMScanEntry::kActionDeleteOnDrive);

    // The check box switches the row off and on.
    click(view, 0, kEnabledColumn);
    EXPECT_FALSE(m_results->at(0).enabled);
    EXPECT_EQ(view->model()->index(0, kEnabledColumn).data(Qt::CheckStateRole).toInt(), Qt::Unchecked);
    click(view, 4, kEnabledColumn);
    click(view, 4, kEnabledColumn);
    EXPECT_TRUE(m_results->at(4).enabled);

    // Rows are never selected, and no click opened an editor.
    EXPECT_FALSE(view->selectionModel() && view->selectionModel()->hasSelection());
    EXPECT_EQ(view->indexWidget(view->model()->index(0, kNameColumn)), nullptr);
    EXPECT_FALSE(view->model()->flags(view->model()->index(1, kDriveColumn)) & Qt::ItemIsEditable);
    EXPECT_TRUE(m_answers.isEmpty()) << "nothing is answered before Apply or Cancel";
}

TEST_F(PreviewWindowTest, ApplyAnswersTrueCancelAndClosingAnswerFalseEachOnce)
{
    PMSyncPreviewWindow *window = present();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->tabs()->tabText(1), QStringLiteral("Left out (1)"));
    const QAbstractItemModel *leftOut = window->leftOutView()->model();
    ASSERT_NE(leftOut, nullptr);
    EXPECT_EQ(leftOut->index(0, 0).data().toString(), QStringLiteral("/home/alice/Movies/hd.mp4"));
    EXPECT_EQ(leftOut->index(0, 1).data().toString(),
        QStringLiteral("picture size 1280 x 720 over 640 x 480 (codec rule PMH264LowCodecValidator)"));

    QTest::mouseClick(window->applyButton(), Qt::LeftButton);
    EXPECT_EQ(m_answers, QList<bool> { true });
    EXPECT_TRUE(testsupport::waitFor([&] { return m_face.previewWindows().empty(); }));
    EXPECT_EQ(m_presenter.openCount(), 0u);

    window = present();
    ASSERT_NE(window, nullptr);
    QTest::mouseClick(window->cancelButton(), Qt::LeftButton);
    EXPECT_EQ(m_answers, (QList<bool> { true, false }));
    EXPECT_TRUE(testsupport::waitFor([&] { return m_face.previewWindows().empty(); }));

    window = present();
    ASSERT_NE(window, nullptr);
    window->close();
    EXPECT_EQ(m_answers, (QList<bool> { true, false, false }));
    EXPECT_TRUE(testsupport::waitFor([&] { return m_face.previewWindows().empty(); }));

    // A quitting agent closes what is still open.
    ASSERT_NE(present(), nullptr);
    m_presenter.withdrawAll();
    EXPECT_EQ(m_answers, (QList<bool> { true, false, false, false }));
    EXPECT_EQ(m_presenter.openCount(), 0u);
}

// A real sync job of a drive whose user asked for the preview.
class PreviewedSyncTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_home.isValid());
        ASSERT_TRUE(m_drive.isValid());
        testsupport::writeFile(m_home.filePath(QStringLiteral("Music/skip.mp3")), "skip");
        m_controller = std::make_unique<PMSyncController>(m_drive.path(), QStringLiteral("Vendor"),
            QStringLiteral("UUID-1"), kUser, &m_owner, [home = m_home.path()](PMSyncController &c) {
                PMSyncJob::Options options;
                options.identity
                    = { QStringLiteral("alice"), QStringLiteral("Studio"), kUser, QStringLiteral("UUID-1"), home };
                options.limitTo4G = false;
                return std::make_unique<PMSyncJob>(c, options);
            });
        m_controller->setParticipateSyncState(true);
        ASSERT_TRUE(m_controller->deviceConfig().setSyncItemList(QStringList { QStringLiteral("~/Music") }));
        m_controller->setPreviewEnabledState(true);
        m_controller->setPreviewPresenter(&m_presenter);
    }

    void TearDown() override
    {
        m_presenter.withdrawAll();
        m_controller.reset();
    }

    PMSyncPreviewWindow *waitForWindow()
    {
        PMSyncPreviewWindow *found = nullptr;
        testsupport::waitFor(
            [&] {
                const auto windows = m_face.previewWindows();
                found = windows.empty() ? nullptr : windows.front();
                return found != nullptr;
            },
            std::chrono::seconds(60));
        return found;
    }

    int waitForEnd()
    {
        int ended = -1;
        const bool done = testsupport::waitFor(
            [&] {
                for (int activity : m_owner.forcedActivities()) {
                    if (activity == PMSyncController::kActivityCompleted
                        || activity == PMSyncController::kActivityFailed)
                        ended = activity;
                }
                return ended != -1 && !m_controller->busy();
            },
            std::chrono::seconds(60));
        EXPECT_TRUE(done) << "the job did not end";
        return ended;
    }

    QStringList namesOnDrive() const
    {
        QStringList names;
        QDirIterator it(m_drive.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            names.append(QFileInfo(it.next()).fileName());
        names.sort();
        return names;
    }

    // The first sync's copy of skip.mp3 (removed so the second sync copies it anew).
    QString firstCopyOnDrive() const
    {
        QDirIterator it(m_drive.path(), { QStringLiteral("skip.mp3") }, QDir::Files, QDirIterator::Subdirectories);
        return it.hasNext() ? it.next() : QString();
    }

    static std::optional<int> rowNamed(const QAbstractItemModel *model, const QString &name)
    {
        for (int row = 0; row < model->rowCount(); ++row) {
            if (model->index(row, kNameColumn).data().toString() == name)
                return row;
        }
        return std::nullopt;
    }

    QTemporaryDir m_home;
    QTemporaryDir m_drive;
    RecordingOwner m_owner;
    PMWidgetsDesktopFace m_face;
    PMDesktopPreviewPresenter m_presenter { m_face };
    std::unique_ptr<PMSyncController> m_controller;
};

TEST_F(PreviewedSyncTest, ARowSwitchedOffInTheWindowIsNotAppliedAndTheLeftOutTabSaysWhy)
{
    // The folder is on the drive already, so each new file is a row of its own; a new folder
    // is one row, and what it holds is judged by the filter all the same.
    m_controller->setPreviewEnabledState(false);
    m_controller->sync();
    ASSERT_EQ(waitForEnd(), PMSyncController::kActivityCompleted);
    const qsizetype firstJob = m_owner.forcedActivities().size();
    m_controller->setPreviewEnabledState(true);
    QFile::remove(firstCopyOnDrive());
    testsupport::writeFile(m_home.filePath(QStringLiteral("Music/skip.mp3")), "skip, changed");
    testsupport::writeFile(m_home.filePath(QStringLiteral("Music/keep.mp3")), "keep");
    testsupport::writeFile(m_home.filePath(QStringLiteral("Music/notes.xyz")), "no media");
    testsupport::writeFile(m_home.filePath(QStringLiteral("Music/Album/cover.xyz")), "no media either");
    testsupport::writeFile(m_home.filePath(QStringLiteral("Music/Album/track.mp3")), "track");

    m_controller->sync();
    PMSyncPreviewWindow *window = waitForWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(namesOnDrive().filter(QStringLiteral(".mp3")).isEmpty()) << "nothing is copied before Apply";
    EXPECT_FALSE(rowNamed(window->changesView()->model(), QStringLiteral("track.mp3")).has_value())
        << "a new folder is one row";
    EXPECT_TRUE(rowNamed(window->changesView()->model(), QStringLiteral("Album")).has_value());

    QTableView *view = window->changesView();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    const std::optional<int> skip = rowNamed(view->model(), QStringLiteral("skip.mp3"));
    ASSERT_TRUE(skip.has_value());
    ASSERT_TRUE(rowNamed(view->model(), QStringLiteral("keep.mp3")).has_value());
    click(view, *skip, kEnabledColumn);

    const QAbstractItemModel *leftOut = window->leftOutView()->model();
    ASSERT_EQ(leftOut->rowCount(), 2);
    EXPECT_EQ(leftOut->index(0, 0).data(Qt::ToolTipRole).toString(),
        m_home.filePath(QStringLiteral("Music/Album/cover.xyz")));
    EXPECT_EQ(
        leftOut->index(1, 0).data(Qt::ToolTipRole).toString(), m_home.filePath(QStringLiteral("Music/notes.xyz")));
    for (int row = 0; row < 2; ++row)
        EXPECT_EQ(
            leftOut->index(row, 1).data().toString(), QStringLiteral("extension not in the device class's list: .xyz"));

    QTest::mouseClick(window->applyButton(), Qt::LeftButton);
    int ended = -1;
    ASSERT_TRUE(testsupport::waitFor(
        [&] {
            for (int activity : m_owner.forcedActivities().mid(firstJob))
                if (activity == PMSyncController::kActivityCompleted || activity == PMSyncController::kActivityFailed)
                    ended = activity;
            return ended != -1 && !m_controller->busy();
        },
        std::chrono::seconds(60)));
    EXPECT_EQ(ended, PMSyncController::kActivityCompleted);
    const QStringList names = namesOnDrive();
    EXPECT_TRUE(names.contains(QStringLiteral("keep.mp3"))) << names.join(QLatin1Char(' ')).toStdString();
    EXPECT_TRUE(names.contains(QStringLiteral("track.mp3"))) << names.join(QLatin1Char(' ')).toStdString();
    EXPECT_FALSE(names.contains(QStringLiteral("skip.mp3"))) << names.join(QLatin1Char(' ')).toStdString();
    EXPECT_FALSE(names.contains(QStringLiteral("notes.xyz")));
    EXPECT_FALSE(names.contains(QStringLiteral("cover.xyz")));
}

TEST_F(PreviewedSyncTest, CancelInTheWindowCopiesNothingAndEndsTheSyncAsCanceled)
{
    m_controller->sync();
    PMSyncPreviewWindow *window = waitForWindow();
    ASSERT_NE(window, nullptr);
    QTest::mouseClick(window->cancelButton(), Qt::LeftButton);
    EXPECT_EQ(waitForEnd(), PMSyncController::kActivityFailed);
    EXPECT_EQ(m_controller->failureType(), PMSyncController::kFailureCanceled);
    EXPECT_TRUE(namesOnDrive().filter(QStringLiteral(".mp3")).isEmpty())
        << namesOnDrive().join(QLatin1Char(' ')).toStdString();
}

TEST_F(PreviewedSyncTest, AWindowLeftOpenAfterTheDriveWentAwayTouchesNothingOfTheJob)
{
    m_controller->sync();
    PMSyncPreviewWindow *window = waitForWindow();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    // The drive goes: its controller, worker and job end while the plan is on screen.
    m_controller.reset();
    QTableView *view = window->changesView();
    ASSERT_GE(view->model()->rowCount(), 1);
    click(view, 0, kEnabledColumn);
    EXPECT_EQ(view->model()->index(0, kEnabledColumn).data(Qt::CheckStateRole).toInt(), Qt::Unchecked);
    QTest::mouseClick(window->applyButton(), Qt::LeftButton);
    EXPECT_TRUE(testsupport::waitFor([&] { return m_face.previewWindows().empty(); }));
    EXPECT_TRUE(namesOnDrive().filter(QStringLiteral(".mp3")).isEmpty()) << "nothing copied by a job that is gone";
}

TEST_F(PreviewedSyncTest, OnlyQuietModeTurnedOffForThisUserAsksForThePreview)
{
    // A drive whose file says nothing about quiet mode (set up by another program) keeps
    // syncing without a window.
    QTemporaryDir other;
    ASSERT_TRUE(other.isValid());
    PMSyncController fresh(other.path(), QStringLiteral("Vendor"), QStringLiteral("UUID-2"), kUser, &m_owner,
        [](PMSyncController &) { return nullptr; });
    fresh.setParticipateSyncState(true);
    EXPECT_FALSE(fresh.isPreviewEnabled());
    fresh.setQuietSyncState(false);
    EXPECT_TRUE(fresh.isPreviewEnabled());
    fresh.setQuietSyncState(true);
    EXPECT_FALSE(fresh.isPreviewEnabled());
    fresh.togglePreviewEnabled();
    EXPECT_TRUE(fresh.isPreviewEnabled());
    // Asked for every sync (a sync run by hand with --preview), whatever the drive says.
    fresh.setQuietSyncState(true);
    fresh.setPreviewPresenter(&m_presenter, true);
    EXPECT_TRUE(fresh.isPreviewEnabled());
    fresh.setPreviewPresenter(nullptr);
}

TEST_F(PreviewedSyncTest, WithThePreviewOffTheSyncRunsWithoutAWindow)
{
    m_controller->setPreviewEnabledState(false);
    EXPECT_FALSE(m_controller->isPreviewEnabled());
    m_controller->sync();
    EXPECT_EQ(waitForEnd(), PMSyncController::kActivityCompleted);
    EXPECT_TRUE(m_face.previewWindows().empty());
    EXPECT_TRUE(namesOnDrive().contains(QStringLiteral("skip.mp3")));
}

} // namespace
