// The filter a sync job applies to every item it would copy: symbolic links never go to a
// drive (a link that leaves the synced tree would copy something the user never chose), and
// everything else goes through the media filter of the drive's settings, when there is one.
//
// The same answer is given to the item walk and to the copy engine, so a link inside a new
// folder is left out exactly like a link inside a folder that is already on the drive.
//
// Immutable; any thread.
#pragma once

#include "agent/copy/PMCopyItemFilter.h"

#include <memory>

class PMSyncItemFilter : public PMCopyItemFilter {
public:
    explicit PMSyncItemFilter(std::shared_ptr<const PMCopyItemFilter> mediaFilter = nullptr);

    bool shouldCopyItem(const QString &path, const QString &baseName, bool limitTo4G) const override;
    bool shouldCopyExaminedItem(
        const QString &path, const QString &baseName, bool limitTo4G, const struct stat &known) const override;

private:
    std::shared_ptr<const PMCopyItemFilter> m_mediaFilter;
};
