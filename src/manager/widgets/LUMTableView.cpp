#include "manager/widgets/LUMTableView.h"

#include <QKeyEvent>

LUMTableView::LUMTableView(QWidget *parent)
    : QTableView(parent)
{
}

bool LUMTableView::isDeleteKey(const QKeyEvent *event)
{
    return event->key() == Qt::Key_Delete || event->key() == Qt::Key_Backspace;
}

void LUMTableView::keyPressEvent(QKeyEvent *event)
{
    if (isDeleteKey(event)) {
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

void LUMTableView::keyReleaseEvent(QKeyEvent *event)
{
    if (isDeleteKey(event)) {
        event->accept();
        return;
    }
    QTableView::keyReleaseEvent(event);
}
