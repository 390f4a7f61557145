#include "agent/desktop/PMSyncPreviewWindow.h"

#include "agent/desktop/PMPreviewHighlightModel.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>

namespace {

QTableView *makeTable(QWidget *parent)
{
    auto *view = new QTableView(parent);
    view->setSelectionMode(QAbstractItemView::NoSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setFocusPolicy(Qt::NoFocus);
    view->setWordWrap(false);
    view->setShowGrid(false);
    view->setAlternatingRowColors(false);
    view->verticalHeader()->hide();
    view->horizontalHeader()->setStretchLastSection(true);
    view->horizontalHeader()->setHighlightSections(false);
    return view;
}

} // namespace

PMSyncPreviewWindow::PMSyncPreviewWindow(PMSyncPreviewRequest request, QWidget *parent)
    : QDialog(parent)
    , m_request(std::move(request))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(tr("Sync Preview - %1").arg(m_request.driveName));
    setObjectName(QStringLiteral("PMSyncPreviewWindow"));

    m_summary = new QLabel(this);
    m_summary->setWordWrap(true);

    m_tabs = new QTabWidget(this);
    m_changesView = makeTable(m_tabs);
    m_shown = new PMPreviewHighlightModel(m_request.highlightRole, this);
    m_shown->setSourceModel(m_request.changes);
    m_changesView->setModel(m_shown);
    m_changesView->resizeColumnsToContents();
    connect(m_changesView, &QAbstractItemView::clicked, this, &PMSyncPreviewWindow::cellClicked);
    connect(m_changesView, &QAbstractItemView::doubleClicked, this, &PMSyncPreviewWindow::cellClicked);
    m_tabs->addTab(m_changesView, tr("Changes"));

    m_leftOutView = makeTable(m_tabs);
    if (m_request.leftOut) {
        m_leftOutView->setModel(m_request.leftOut);
        m_leftOutView->resizeColumnsToContents();
    }
    const int leftOutCount = m_request.leftOut ? m_request.leftOut->rowCount() : 0;
    m_tabs->addTab(m_leftOutView, tr("Left out (%1)").arg(leftOutCount));

    auto *buttons = new QDialogButtonBox(this);
    m_applyButton = buttons->addButton(tr("Apply"), QDialogButtonBox::AcceptRole);
    m_cancelButton = buttons->addButton(QDialogButtonBox::Cancel);
    m_applyButton->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_summary);
    layout->addWidget(m_tabs, 1);
    layout->addWidget(buttons);
    resize(820, 420);
    updateSummary();
}

PMSyncPreviewWindow::~PMSyncPreviewWindow()
{
    answer(false);
}

void PMSyncPreviewWindow::updateSummary()
{
    const int changes = m_request.changes ? m_request.changes->rowCount() : 0;
    m_summary->setText(tr("The sync of \"%1\" will make these changes. Uncheck a change to leave it out; for a file "
                          "changed on both sides, click the side that should win.")
                           .arg(m_request.driveName)
        + (changes == 0 ? tr(" (No changes.)") : QString()));
}

void PMSyncPreviewWindow::cellClicked(const QModelIndex &index)
{
    if (!m_request.cellClicked || !index.isValid() || !m_shown)
        return;
    m_request.cellClicked(m_shown->mapToSource(index));
}

void PMSyncPreviewWindow::done(int result)
{
    answer(result == QDialog::Accepted);
    QDialog::done(result);
}

void PMSyncPreviewWindow::answer(bool apply)
{
    if (!m_request.done)
        return;
    // The models are the agent's: let go of them before the agent may drop them.
    m_changesView->setModel(nullptr);
    m_shown->setSourceModel(nullptr);
    m_leftOutView->setModel(nullptr);
    const std::function<void(bool)> done = std::move(m_request.done);
    m_request.done = nullptr;
    m_request.changes = nullptr;
    m_request.leftOut = nullptr;
    m_request.cellClicked = nullptr;
    done(apply);
}
