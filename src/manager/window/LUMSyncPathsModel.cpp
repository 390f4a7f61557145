#include "manager/window/LUMSyncPathsModel.h"

#include "manager/client/LUMPellmereInterface.h"
#include "manager/window/LUMSyncPathDropRules.h"

#include <QDataStream>
#include <QDir>
#include <QIODevice>
#include <QMimeData>
#include <QUrl>

LUMSyncPathsModel::LUMSyncPathsModel(LUMPellmereInterface &client, QObject *parent)
    : QAbstractListModel(parent)
    , m_client(client)
    , m_paths(client.syncPaths())
{
    connect(&m_client, &LUMPellmereInterface::syncPathsChanged, this, &LUMSyncPathsModel::reload);
}

void LUMSyncPathsModel::reload()
{
    beginResetModel();
    m_paths = m_client.syncPaths();
    endResetModel();
}

bool LUMSyncPathsModel::appendPaths(const QStringList &paths)
{
    if (!LUMSyncPathDropRules::allAcceptable(paths))
        return false;
    for (const QString &path : paths)
        m_client.insertSyncPath(int(m_client.syncPaths().size()), QDir::cleanPath(path));
    return true;
}

void LUMSyncPathsModel::removeRowAt(int row)
{
    if (row >= 0 && row < m_paths.size())
        m_client.removeSyncPathAt(row);
}

int LUMSyncPathsModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_paths.size());
}

QVariant LUMSyncPathsModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_paths.size())
        return {};
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole || role == Qt::AccessibleTextRole)
        return m_paths.at(index.row());
    return {};
}

Qt::ItemFlags LUMSyncPathsModel::flags(const QModelIndex &index) const
{
    Qt::ItemFlags flags = QAbstractListModel::flags(index);
    if (index.isValid())
        flags |= Qt::ItemIsDragEnabled | Qt::ItemNeverHasChildren;
    else if (m_dropsAllowed)
        flags |= Qt::ItemIsDropEnabled;
    return flags;
}

Qt::DropActions LUMSyncPathsModel::supportedDropActions() const
{
    return Qt::CopyAction | Qt::MoveAction;
}

Qt::DropActions LUMSyncPathsModel::supportedDragActions() const
{
    return Qt::MoveAction;
}

QStringList LUMSyncPathsModel::mimeTypes() const
{
    return { QStringLiteral("text/uri-list"), QStringLiteral("text/plain"), kRowMimeType };
}

QMimeData *LUMSyncPathsModel::mimeData(const QModelIndexList &indexes) const
{
    if (indexes.size() != 1 || !indexes.first().isValid())
        return nullptr;
    const int row = indexes.first().row();
    auto *data = new QMimeData;
    data->setText(m_paths.at(row));
    QByteArray encoded;
    QDataStream stream(&encoded, QIODevice::WriteOnly);
    stream << quint64(reinterpret_cast<quintptr>(this)) << quint32(row);
    data->setData(kRowMimeType, encoded);
    m_dragBeganAtRow = quint32(row);
    return data;
}

QStringList LUMSyncPathsModel::pathsOf(const QMimeData *data)
{
    QStringList paths;
    if (data->hasUrls()) {
        for (const QUrl &url : data->urls()) {
            if (!url.isLocalFile())
                return {};
            paths.append(url.toLocalFile());
        }
        return paths;
    }
    if (data->hasText()) {
        for (const QString &line : data->text().split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            const QString path = line.trimmed();
            if (!path.isEmpty())
                paths.append(path);
        }
    }
    return paths;
}

quint32 LUMSyncPathsModel::ownRowOf(const QMimeData *data) const
{
    if (!data->hasFormat(kRowMimeType))
        return kNoRow;
    QByteArray encoded = data->data(kRowMimeType);
    QDataStream stream(&encoded, QIODevice::ReadOnly);
    quint64 model = 0;
    quint32 row = kNoRow;
    stream >> model >> row;
    if (stream.status() != QDataStream::Ok || model != quint64(reinterpret_cast<quintptr>(this))
        || row >= quint32(m_paths.size()) || row != m_dragBeganAtRow)
        return kNoRow;
    return row;
}

bool LUMSyncPathsModel::canDropMimeData(
    const QMimeData *data, Qt::DropAction action, int row, int column, const QModelIndex &parent) const
{
    Q_UNUSED(action);
    Q_UNUSED(column);
    // Only between rows (an invalid parent); on a row is not a place in the list.
    if (!m_dropsAllowed || data == nullptr || parent.isValid() || row > rowCount())
        return false;
    return LUMSyncPathDropRules::allAcceptable(pathsOf(data));
}

bool LUMSyncPathsModel::dropMimeData(
    const QMimeData *data, Qt::DropAction action, int row, int column, const QModelIndex &parent)
{
    if (action == Qt::IgnoreAction)
        return true;
    if (!canDropMimeData(data, action, row, column, parent))
        return false;
    int dropRow = row < 0 ? rowCount() : row;
    const quint32 ownRow = ownRowOf(data);
    const QStringList paths = pathsOf(data);
    for (const QString &path : paths) {
        if (ownRow != kNoRow) {
            m_client.removeSyncPathAt(int(ownRow));
            dropRow = LUMSyncPathDropRules::moveDestination(int(ownRow), dropRow);
        }
        // Several paths keep their order: each goes below the one inserted before it.
        m_client.insertSyncPath(dropRow++, QDir::cleanPath(path));
    }
    m_dragBeganAtRow = kNoRow;
    // The model has no removeRows, so the view's clean-up after a move leaves the list alone.
    return true;
}
