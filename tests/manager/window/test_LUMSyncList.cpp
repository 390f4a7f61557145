// The sync list table's model: what may be dropped on it, where a moved row lands, and that
// every change reaches the agent client's list.
#include "WindowTestFixture.h"

#include "manager/window/LUMSyncPathDropRules.h"
#include "manager/window/LUMSyncPathsModel.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QMimeData>
#include <QUrl>

namespace windowtest {
namespace {

class SyncListTest : public WindowFixture {
protected:
    void SetUp() override
    {
        WindowFixture::SetUp();
        m_drive = listAndSelectDrive();
        m_controller->changeSyncPlan(3);
        for (const char *name : { "a", "b", "c", "d", "e" }) {
            const QString path = m_scratch.filePath(QStringLiteral("home/") + QLatin1String(name));
            QDir().mkpath(path);
            m_folders.append(path);
        }
    }
    LUMSyncPathsModel &model() { return m_controller->syncPathsModel(); }
    static std::unique_ptr<QMimeData> textDrop(const QString &path)
    {
        auto data = std::make_unique<QMimeData>();
        data->setText(path);
        return data;
    }
    static std::unique_ptr<QMimeData> urlDrop(const QStringList &paths)
    {
        auto data = std::make_unique<QMimeData>();
        QList<QUrl> urls;
        for (const QString &path : paths)
            urls.append(QUrl::fromLocalFile(path));
        data->setUrls(urls);
        return data;
    }
    QString m_drive;
    QStringList m_folders;
};

TEST_F(SyncListTest, RefusesTheRootOtherVolumesAndMissingPaths)
{
    const QString roots = m_scratch.filePath(QStringLiteral("media"));
    const QString insideDrive = m_drive + QStringLiteral("/Photos");
    QDir().mkpath(insideDrive);
    const QString link = m_scratch.filePath(QStringLiteral("home/link-to-drive"));
    ASSERT_TRUE(QFile::link(insideDrive, link));

    EXPECT_FALSE(LUMSyncPathDropRules::isAcceptable(QStringLiteral("/")));
    EXPECT_FALSE(LUMSyncPathDropRules::isAcceptable(roots)) << "a volume root";
    EXPECT_FALSE(LUMSyncPathDropRules::isAcceptable(m_drive)) << "a mounted drive";
    EXPECT_FALSE(LUMSyncPathDropRules::isAcceptable(insideDrive)) << "a folder on a drive";
    EXPECT_FALSE(LUMSyncPathDropRules::isAcceptable(link)) << "a link leading onto a drive";
    EXPECT_FALSE(LUMSyncPathDropRules::isAcceptable(m_scratch.filePath(QStringLiteral("home/missing"))));
    EXPECT_FALSE(LUMSyncPathDropRules::isAcceptable(QStringLiteral("home/a"))) << "relative";
    EXPECT_TRUE(LUMSyncPathDropRules::isAcceptable(m_folders.first()));

    for (const QString &refused : { QStringLiteral("/"), m_drive, insideDrive, roots }) {
        EXPECT_FALSE(model().canDropMimeData(textDrop(refused).get(), Qt::CopyAction, 0, 0, {}))
            << refused.toStdString();
        EXPECT_FALSE(model().dropMimeData(urlDrop({ m_folders.first(), refused }).get(), Qt::CopyAction, 0, 0, {}))
            << "one bad path refuses the whole drop";
    }
    EXPECT_TRUE(m_client->syncPaths().isEmpty());
}

TEST_F(SyncListTest, DropsFromOutsideAreInsertedBetweenRowsOnly)
{
    ASSERT_TRUE(model().dropMimeData(urlDrop({ m_folders[0], m_folders[1] }).get(), Qt::CopyAction, 0, 0, {}));
    EXPECT_EQ(m_client->syncPaths(), QStringList({ m_folders[0], m_folders[1] }));
    ASSERT_TRUE(model().dropMimeData(textDrop(m_folders[2]).get(), Qt::CopyAction, 1, 0, {}));
    EXPECT_EQ(m_client->syncPaths(), QStringList({ m_folders[0], m_folders[2], m_folders[1] }));
    EXPECT_EQ(model().rowCount(), 3);
    EXPECT_EQ(model().data(model().index(1)).toString(), m_folders[2]);
    // Onto a row (a valid parent) is not between rows.
    EXPECT_FALSE(model().canDropMimeData(textDrop(m_folders[3]).get(), Qt::CopyAction, -1, -1, model().index(0)));
    EXPECT_EQ(model().dragBeganAtRow(), LUMSyncPathsModel::kNoRow);
}

TEST_F(SyncListTest, ADraggedRowMovesAndLandsAboveTheDropRow)
{
    for (const QString &folder : m_folders)
        m_client->insertSyncPath(int(m_client->syncPaths().size()), folder);
    // Row 1 dropped above row 4 ends at row 3.
    std::unique_ptr<QMimeData> drag(model().mimeData({ model().index(1) }));
    ASSERT_TRUE(drag);
    EXPECT_EQ(drag->text(), m_folders[1]);
    EXPECT_EQ(model().dragBeganAtRow(), 1u);
    ASSERT_TRUE(model().dropMimeData(drag.get(), Qt::MoveAction, 4, 0, {}));
    EXPECT_EQ(
        m_client->syncPaths(), QStringList({ m_folders[0], m_folders[2], m_folders[3], m_folders[1], m_folders[4] }));
    EXPECT_EQ(model().dragBeganAtRow(), LUMSyncPathsModel::kNoRow);

    // Upwards: row 4 dropped above row 0 ends at row 0, nothing duplicated.
    drag.reset(model().mimeData({ model().index(4) }));
    ASSERT_TRUE(model().dropMimeData(drag.get(), Qt::MoveAction, 0, 0, {}));
    EXPECT_EQ(
        m_client->syncPaths(), QStringList({ m_folders[4], m_folders[0], m_folders[2], m_folders[3], m_folders[1] }));

    EXPECT_EQ(LUMSyncPathDropRules::moveDestination(1, 4), 3);
    EXPECT_EQ(LUMSyncPathDropRules::moveDestination(4, 1), 1);
    // Only one row can be dragged at a time.
    EXPECT_EQ(model().mimeData({ model().index(0), model().index(1) }), nullptr);
}

TEST_F(SyncListTest, TheAllMediaPlansLockTheList)
{
    m_controller->changeSyncPlan(2);
    EXPECT_FALSE(model().dropsAllowed());
    EXPECT_FALSE(model().flags({}).testFlag(Qt::ItemIsDropEnabled));
    const QStringList before = m_client->syncPaths();
    EXPECT_FALSE(model().dropMimeData(textDrop(m_folders[0]).get(), Qt::CopyAction, 0, 0, {}));
    EXPECT_EQ(m_client->syncPaths(), before);
    m_controller->changeSyncPlan(3);
    EXPECT_TRUE(model().dropsAllowed());
    EXPECT_TRUE(model().flags({}).testFlag(Qt::ItemIsDropEnabled));
}

TEST_F(SyncListTest, AddingAndRemovingGoThroughTheClient)
{
    EXPECT_FALSE(model().appendPaths({ QStringLiteral("/") }));
    ASSERT_TRUE(model().appendPaths({ m_folders[0], m_folders[1] + QStringLiteral("/") }));
    EXPECT_EQ(m_client->syncPaths(), QStringList({ m_folders[0], m_folders[1] }));
    model().removeRowAt(0);
    EXPECT_EQ(m_client->syncPaths(), QStringList({ m_folders[1] }));
    model().removeRowAt(7);
    EXPECT_EQ(m_client->syncPaths().size(), 1);
}

} // namespace
} // namespace windowtest
