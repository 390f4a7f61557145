// The sync preview window: what a sync is about to do to a drive, before it does it. The
// "Changes" tab lists one row per change with its check box (a click switches the row on or
// off) and both sides' file information (a click on a side of an overwrite or conflict makes
// that side win; the winning side's cell is highlighted). Rows are never selected and cells
// never edited in place. The "Left out" tab lists the files the media filter leaves out and
// why. Apply answers true, Cancel or closing the window false.
//
//   auto *window = new PMSyncPreviewWindow(std::move(request));   // deletes itself once closed
//   window->show();
//
// Main thread.
#pragma once

#include "agent/app/PMDesktopFace.h"

#include <QDialog>

class PMPreviewHighlightModel;
class QLabel;
class QPushButton;
class QTabWidget;
class QTableView;

class PMSyncPreviewWindow : public QDialog {
    Q_OBJECT
public:
    explicit PMSyncPreviewWindow(PMSyncPreviewRequest request, QWidget *parent = nullptr);
    // An unanswered window answers "apply nothing".
    ~PMSyncPreviewWindow() override;

    QTableView *changesView() const { return m_changesView; }
    QTableView *leftOutView() const { return m_leftOutView; }
    QTabWidget *tabs() const { return m_tabs; }
    QPushButton *applyButton() const { return m_applyButton; }
    QPushButton *cancelButton() const { return m_cancelButton; }
    bool answered() const { return !m_request.done; }

    void done(int result) override;

private:
    void cellClicked(const QModelIndex &index);
    void answer(bool apply);
    void updateSummary();

    PMSyncPreviewRequest m_request;
    PMPreviewHighlightModel *m_shown = nullptr;
    QLabel *m_summary = nullptr;
    QTabWidget *m_tabs = nullptr;
    QTableView *m_changesView = nullptr;
    QTableView *m_leftOutView = nullptr;
    QPushButton *m_applyButton = nullptr;
    QPushButton *m_cancelButton = nullptr;
};
