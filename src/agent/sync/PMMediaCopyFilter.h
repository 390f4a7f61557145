// The media filter of one drive as the copy engine and the item walk see it: the media lists
// of the categories this user syncs to the drive, for the drive's device filter.
//
//   auto filter = PMMediaCopyFilter::forController(controller);  // at the start of a job
//   filter->shouldCopyItem(path, baseName, limitTo4G);
//
// Built on the worker at the start of each job from the drive's settings, then read-only;
// shouldCopyItem may be called from any thread. The validator consults the controller's
// cancel state, so the controller must outlive the filter.
//
// With a left-out list set (before the filter is shared), every file it refuses is recorded
// there with the validator's reason; a name that only a switched-off category's list takes is
// told as that category being off.
#pragma once

#include "agent/copy/PMCopyItemFilter.h"
#include "agent/media/PMFileValidator.h"
#include "agent/media/PMValidatorOwner.h"
#include "agent/sync/PMLeftOutList.h"

#include <memory>
#include <vector>

class PMSyncController;

class PMMediaCopyFilter : public PMCopyItemFilter, private PMValidatorOwner {
public:
    PMMediaCopyFilter(const PMSyncController &controller, const PMMediaLists::List &validators);
    ~PMMediaCopyFilter() override;

    // The lists of the categories the controller's user syncs, for its device filter.
    static std::shared_ptr<PMMediaCopyFilter> forController(const PMSyncController &controller);
    // The lists of the given categories for deviceFilter (settings not stored anywhere yet).
    static std::shared_ptr<PMMediaCopyFilter> forSettings(
        const PMSyncController &controller, bool movies, bool music, bool pictures, bool documents, int deviceFilter);

    bool shouldCopyItem(const QString &path, const QString &baseName, bool limitTo4G) const override;
    bool shouldCopyExaminedItem(
        const QString &path, const QString &baseName, bool limitTo4G, const struct stat &known) const override;
    const PMFileValidator &validator() const { return m_validator; }
    void setLeftOutList(std::shared_ptr<PMLeftOutList> leftOut) { m_leftOut = std::move(leftOut); }
    // The answer, and when it is no, why.
    bool shouldCopyItemExplained(const QString &path, const QString &baseName, bool limitTo4G, const struct stat *known,
        PMFilterRefusal &why) const;

private:
    struct OffCategory {
        QString name;
        PMMediaLists::List validators;
    };

    bool cancelPending() const override;
    bool decide(const QString &path, const QString &baseName, bool limitTo4G, const struct stat *known) const;

    const PMSyncController &m_controller;
    PMFileValidator m_validator;
    std::vector<OffCategory> m_offCategories;
    std::shared_ptr<PMLeftOutList> m_leftOut;
};
