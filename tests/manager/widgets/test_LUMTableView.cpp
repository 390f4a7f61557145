#include "manager/widgets/LUMTableView.h"

#include "manager/widgets/WidgetTestEvents.h"

#include <QLineEdit>
#include <QStandardItemModel>

#include <algorithm>

#include <gtest/gtest.h>

using namespace widgettest;

namespace {

// Records the keys that reach it, which happens when a child leaves a key event unaccepted.
class KeyRecorder : public QWidget {
public:
    QList<int> pressed;
    QList<int> released;

protected:
    void keyPressEvent(QKeyEvent *event) override { pressed.append(event->key()); }
    void keyReleaseEvent(QKeyEvent *event) override { released.append(event->key()); }
};

class TableViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        model.setRowCount(2);
        model.setColumnCount(2);
        for (int row = 0; row < 2; ++row)
            for (int column = 0; column < 2; ++column)
                model.setItem(row, column, new QStandardItem(QStringLiteral("cell")));
        table = new LUMTableView(&window);
        table->setModel(&model);
        // Typing starts editing in a table with this trigger, which makes ignored keys visible.
        table->setEditTriggers(QAbstractItemView::AnyKeyPressed);
        table->resize(200, 100);
        window.resize(200, 100);
        window.show();
        table->setCurrentIndex(model.index(0, 0));
    }

    bool editorOpen() const
    {
        const QList<QLineEdit *> editors = table->findChildren<QLineEdit *>();
        return std::any_of(editors.begin(), editors.end(), [](QLineEdit *editor) { return editor->isVisible(); });
    }

    KeyRecorder window;
    QStandardItemModel model;
    LUMTableView *table = nullptr;
};

} // namespace

TEST_F(TableViewTest, DeleteKeysReachNeitherTheTableNorTheWindow)
{
    for (const auto &[key, text] : { std::pair { int(Qt::Key_Delete), QStringLiteral("\x7f") },
             std::pair { int(Qt::Key_Backspace), QStringLiteral("\b") } }) {
        sendKey(table, QEvent::KeyPress, key, text);
        EXPECT_FALSE(editorOpen()) << key;
        sendKey(table, QEvent::KeyRelease, key, text);
    }
    EXPECT_TRUE(window.pressed.isEmpty());
    EXPECT_TRUE(window.released.isEmpty());
    EXPECT_EQ(model.rowCount(), 2);
    EXPECT_EQ(model.item(0, 0)->text(), QStringLiteral("cell"));
}

TEST_F(TableViewTest, OtherKeysWorkAsInAnyTable)
{
    sendKey(table, QEvent::KeyPress, Qt::Key_Down);
    EXPECT_EQ(table->currentIndex(), model.index(1, 0));
    sendKey(table, QEvent::KeyPress, Qt::Key_X, QStringLiteral("x"));
    EXPECT_TRUE(editorOpen()) << "typing still starts editing";
}
