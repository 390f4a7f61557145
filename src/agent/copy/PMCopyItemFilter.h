// The single question the copy engine asks before it copies an item onto a drive: may this
// item go there? The media validator answers it in the agent; the engine never depends on
// the validator itself.
//
//   class MyFilter : public PMCopyItemFilter {
//       bool shouldCopyItem(const QString &path, const QString &baseName, bool limitTo4G) const override;
//   };
//
// limitTo4G is true when the destination cannot hold files of 4 GiB or more (FAT).
// Called on the copying thread; implementations must be reentrant for concurrent drives.
#pragma once

#include <QString>
#include <QtGlobal>

#include <sys/stat.h>

class PMCopyItemFilter {
public:
    virtual ~PMCopyItemFilter() = default;
    virtual bool shouldCopyItem(const QString &path, const QString &baseName, bool limitTo4G) const = 0;
    // The same question for an item whose attributes the caller read already (lstat, links
    // not followed), so a walk examines each item once; by default they are not used.
    virtual bool shouldCopyExaminedItem(
        const QString &path, const QString &baseName, bool limitTo4G, const struct stat &known) const
    {
        Q_UNUSED(known);
        return shouldCopyItem(path, baseName, limitTo4G);
    }

protected:
    PMCopyItemFilter() = default;
    PMCopyItemFilter(const PMCopyItemFilter &) = default;
    PMCopyItemFilter &operator=(const PMCopyItemFilter &) = default;
};
