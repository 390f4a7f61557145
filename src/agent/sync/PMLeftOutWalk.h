// Asks a sync's filter about every item below the folders a scan is about to copy whole.
//
// The item walk records a folder the drive does not have as one new entry and never looks
// inside it; the copy engine asks the filter about each item in it only while copying. To
// tell beforehand what will be left out (a preview, a dry run), the same filter is asked the
// same questions in the same order here, so a filter that records its refusals
// (PMMediaCopyFilter with a left-out list) records those too. Folders it refuses are not
// entered, links are never followed, exactly as when copying.
//
//   PMLeftOutWalk::askBelowNewFolders(results, filter, limitTo4G);
//
// Reentrant; reads the computer's side only.
#pragma once

#include "agent/copy/PMCopyItemFilter.h"
#include "agent/sync/PMScanResults.h"

class PMLeftOutWalk {
public:
    static void askBelowNewFolders(const PMScanResults &results, const PMCopyItemFilter &filter, bool limitTo4G);

private:
    static void askBelow(const QString &folder, const PMCopyItemFilter &filter, bool limitTo4G, int depth);
};
