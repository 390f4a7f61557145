// Shows a sync's plan in the desktop face's preview window: the scan results as the preview
// table (PMPreviewTableDataSource, whose edits go straight into the results the job then
// applies) and the left-out files with their reasons.
//
//   PMDesktopPreviewPresenter previews(face);
//   controller->setPreviewPresenter(&previews);
//
// Main thread. The face must outlive the presenter, or withdrawAll() be called first.
#pragma once

#include "agent/sync/PMSyncPreviewPresenter.h"

#include <map>
#include <memory>

class PMDesktopFace;
class PMLeftOutTableModel;
class PMPreviewTableDataSource;

class PMDesktopPreviewPresenter : public PMSyncPreviewPresenter {
public:
    // Sync, type, name, location, this computer, the drive.
    static QStringList columns();

    explicit PMDesktopPreviewPresenter(PMDesktopFace &face);
    ~PMDesktopPreviewPresenter() override;
    PMDesktopPreviewPresenter(const PMDesktopPreviewPresenter &) = delete;
    PMDesktopPreviewPresenter &operator=(const PMDesktopPreviewPresenter &) = delete;

    void present(const Request &request, std::function<void(bool apply)> done) override;
    void withdrawAll() override;

    // Previews on screen.
    std::size_t openCount() const { return m_open.size(); }

private:
    struct Open;

    PMDesktopFace &m_face;
    quint64 m_nextKey = 1;
    std::map<quint64, std::unique_ptr<Open>> m_open;
};
