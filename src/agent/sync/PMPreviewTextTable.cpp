#include "agent/sync/PMPreviewTextTable.h"

#include "agent/sync/PMPreviewTableDataSource.h"
#include "platform/FileNameCodec.h"

#include <QAbstractItemModel>
#include <QList>
#include <QStringList>

namespace {

QString cellText(const QAbstractItemModel &model, int row, int column)
{
    const QModelIndex index = model.index(row, column);
    const QVariant check = model.data(index, Qt::CheckStateRole);
    if (check.isValid())
        return check.toInt() == Qt::Checked ? QStringLiteral("[x]") : QStringLiteral("[ ]");
    // Bytes of a name that are not UTF-8 are shown as \xHH, as in the log: written out as
    // UTF-8 they would all become the same replacement character.
    QString text = platform::FileNameCodec::printable(model.data(index, Qt::DisplayRole).toString());
    // One line per row, whatever a file name holds.
    text.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
    if (model.data(index, PMPreviewTableDataSource::HighlightRole).toBool())
        text += QStringLiteral(" *");
    return text;
}

} // namespace

QString PMPreviewTextTable::render(const QAbstractItemModel &model)
{
    const int columns = model.columnCount();
    const int rows = model.rowCount();
    QList<QStringList> lines;
    QStringList header;
    for (int column = 0; column < columns; ++column)
        header.append(model.headerData(column, Qt::Horizontal, Qt::DisplayRole).toString());
    lines.append(header);
    for (int row = 0; row < rows; ++row) {
        QStringList cells;
        for (int column = 0; column < columns; ++column)
            cells.append(cellText(model, row, column));
        lines.append(cells);
    }
    QList<qsizetype> widths(columns, 0);
    for (const QStringList &cells : lines) {
        for (int column = 0; column < columns; ++column)
            widths[column] = std::max(widths[column], cells[column].size());
    }
    QString out;
    for (const QStringList &cells : lines) {
        QString line;
        for (int column = 0; column < columns; ++column) {
            if (column > 0)
                line += QStringLiteral("  ");
            line += cells[column].leftJustified(widths[column]);
        }
        while (line.endsWith(QLatin1Char(' ')))
            line.chop(1);
        out += line + QLatin1Char('\n');
    }
    return out;
}
