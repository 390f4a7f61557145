#include "agent/desktop/PMPreviewHighlightModel.h"

PMPreviewHighlightModel::PMPreviewHighlightModel(int highlightRole, QObject *parent)
    : QIdentityProxyModel(parent)
    , m_highlightRole(highlightRole)
{
}

QVariant PMPreviewHighlightModel::data(const QModelIndex &index, int role) const
{
    if (role == Qt::BackgroundRole && m_highlightRole >= 0) {
        const QVariant source = QIdentityProxyModel::data(index, Qt::BackgroundRole);
        if (QIdentityProxyModel::data(index, m_highlightRole).toBool())
            return highlightColor();
        return source;
    }
    // A check box says it all; its value again as text would only repeat it.
    if (role == Qt::DisplayRole && QIdentityProxyModel::data(index, Qt::CheckStateRole).isValid())
        return QVariant();
    return QIdentityProxyModel::data(index, role);
}
