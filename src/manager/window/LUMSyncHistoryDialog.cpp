#include "manager/window/LUMSyncHistoryDialog.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

QString display(const QVariant &value)
{
    if (value.typeId() == QMetaType::QDateTime)
        return QLocale().toString(value.toDateTime().toLocalTime(), QLocale::ShortFormat);
    if (value.typeId() == QMetaType::QVariantList) {
        QStringList parts;
        for (const QVariant &item : value.toList())
            parts.append(display(item));
        return parts.join(QStringLiteral(", "));
    }
    return value.toString();
}

void addEntry(QTreeWidgetItem *parent, QTreeWidget *tree, const QString &key, const QVariant &value)
{
    auto *item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(tree);
    item->setText(0, key);
    if (value.typeId() == QMetaType::QVariantMap) {
        const QVariantMap map = value.toMap();
        for (auto it = map.constBegin(); it != map.constEnd(); ++it)
            addEntry(item, tree, it.key(), it.value());
        item->setExpanded(true);
    } else {
        item->setText(1, display(value));
    }
}

} // namespace

LUMSyncHistoryDialog::LUMSyncHistoryDialog(QWidget *parent)
    : QDialog(parent)
    , m_tree(new QTreeWidget(this))
{
    setWindowTitle(tr("Sync History"));
    setWindowModality(Qt::WindowModal);
    m_tree->setColumnCount(2);
    m_tree->setHeaderLabels({ tr("Item"), tr("Value") });
    m_tree->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    m_tree->setAccessibleName(tr("Sync history"));
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_tree);
    layout->addWidget(buttons);
    resize(520, 360);
}

void LUMSyncHistoryDialog::setStatus(const QVariantMap &status)
{
    m_tree->clear();
    for (auto it = status.constBegin(); it != status.constEnd(); ++it)
        addEntry(nullptr, m_tree, it.key(), it.value());
}

int LUMSyncHistoryDialog::rowCount() const
{
    return m_tree->topLevelItemCount();
}
