// The sync preview as a table model over a job's scan results: one row per entry, one
// column per entry key or derived property (PMPreviewSyncEntry). Changes made through the
// table (a row switched off, the winning side of an overwrite or conflict chosen by a click
// on that side's information cell) are written straight into the scan results, so they are
// what the job applies afterwards.
//
//   PMPreviewTableDataSource preview(&scanResults);
//   preview.tableSingleAction(preview.index(row, column)); // a click on a cell
//   std::cout << PMPreviewTextTable::render(preview).toStdString();
//
// Rows are never selectable and cells never edited in place. The highlight of the cell
// whose side will win is the boolean HighlightRole (a view picks the colour).
//
// Main thread (or the thread that owns the model); the scan results must not change
// elsewhere while the model shows them, and must outlive it or be replaced by
// setDataStorage(nullptr) first.
#pragma once

#include "agent/sync/PMPreviewSyncEntry.h"
#include "agent/sync/PMScanResults.h"

#include <QAbstractTableModel>
#include <QStringList>

class PMPreviewTableDataSource : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Role {
        // bool: the cell shows the side whose state will win.
        HighlightRole = Qt::UserRole + 1,
        // QString: the column's identifier (an entry key or derived property).
        IdentifierRole
    };

    // Enabled, type, name, computer information, drive information.
    static QStringList defaultColumns();

    explicit PMPreviewTableDataSource(
        PMScanResults *storage = nullptr, QStringList columns = defaultColumns(), QObject *parent = nullptr);

    PMScanResults *dataStorage() const { return m_storage; }
    void setDataStorage(PMScanResults *storage);
    QStringList columnIdentifiers() const { return m_columns; }

    // The entry count; -1 without storage.
    int numberOfRows() const;
    // The row's entry wrapped with the storage's local temporary folder.
    std::optional<PMPreviewSyncEntry> entryAtRow(int row) const;
    // The row's entry in its keyed form; empty for no such row.
    QVariantMap objectAtRow(int row) const;
    bool shouldHighlightColumnWithID(const QString &identifier, int row) const;

    // A click (single or double) on a cell; answers whether the row's entry changed.
    bool tableSingleAction(const QModelIndex &index);
    // Empties the storage.
    void deleteAllRows();
    // The storage changed behind the model's back: show it again.
    void updateData();

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    // Stores value under the column's identifier in the row's entry (EditRole only). Derived
    // properties are not stored.
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;

private:
    bool isRow(int row) const;
    void storeEntry(int row, const PMPreviewSyncEntry &entry);

    PMScanResults *m_storage;
    QStringList m_columns;
};
