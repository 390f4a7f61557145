#include "agent/app/PMDesktopPreviewPresenter.h"

#include "agent/app/PMDesktopFace.h"
#include "agent/sync/PMLeftOutTableModel.h"
#include "agent/sync/PMPreviewTableDataSource.h"
#include "agent/sync/PMScanEntry.h"

struct PMDesktopPreviewPresenter::Open {
    std::shared_ptr<PMScanResults> results;
    std::unique_ptr<PMPreviewTableDataSource> changes;
    std::unique_ptr<PMLeftOutTableModel> leftOut;
};

QStringList PMDesktopPreviewPresenter::columns()
{
    return { PMScanEntry::kEnabledKey, PMPreviewSyncEntry::kEntryTypeStringKey, PMPreviewSyncEntry::kFileNameKey,
        PMPreviewSyncEntry::kLocalDisplayPathKey, PMPreviewSyncEntry::kLocalFileInfoKey,
        PMPreviewSyncEntry::kTavrinFileInfoKey };
}

PMDesktopPreviewPresenter::PMDesktopPreviewPresenter(PMDesktopFace &face)
    : m_face(face)
{
}

PMDesktopPreviewPresenter::~PMDesktopPreviewPresenter()
{
    withdrawAll();
}

void PMDesktopPreviewPresenter::present(const Request &request, std::function<void(bool apply)> done)
{
    if (!request.results) {
        done(false);
        return;
    }
    const quint64 key = m_nextKey++;
    auto open = std::make_unique<Open>();
    open->results = request.results;
    open->changes = std::make_unique<PMPreviewTableDataSource>(open->results.get(), columns());
    open->leftOut = std::make_unique<PMLeftOutTableModel>(request.leftOut);

    PMSyncPreviewRequest shown;
    shown.driveName = request.driveName;
    shown.changes = open->changes.get();
    shown.highlightRole = PMPreviewTableDataSource::HighlightRole;
    shown.leftOut = open->leftOut.get();
    PMPreviewTableDataSource *changes = open->changes.get();
    shown.cellClicked = [changes](const QModelIndex &index) { changes->tableSingleAction(index); };
    shown.done = [this, key, done](bool apply) {
        // The window has let go of the models; the worker takes its results back.
        m_open.erase(key);
        done(apply);
    };
    m_open.emplace(key, std::move(open));
    m_face.showSyncPreview(std::move(shown));
}

void PMDesktopPreviewPresenter::withdrawAll()
{
    if (!m_open.empty())
        m_face.closeSyncPreviews();
}
