// The sheet with the selected drive's sync history: one row per entry of the agent's status
// for the drive, with its values as the agent gave them.
//
// Main thread.
#pragma once

#include <QDialog>
#include <QVariantMap>

class QTreeWidget;

class LUMSyncHistoryDialog : public QDialog {
    Q_OBJECT

public:
    explicit LUMSyncHistoryDialog(QWidget *parent = nullptr);
    // Shows the status's values (each a map or a plain value) as rows.
    void setStatus(const QVariantMap &status);
    int rowCount() const;

private:
    QTreeWidget *m_tree;
};
