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

class PMCopyItemFilter {
public:
    virtual ~PMCopyItemFilter() = default;
    virtual bool shouldCopyItem(const QString &path, const QString &baseName, bool limitTo4G) const = 0;

protected:
    PMCopyItemFilter() = default;
    PMCopyItemFilter(const PMCopyItemFilter &) = default;
    PMCopyItemFilter &operator=(const PMCopyItemFilter &) = default;
};
