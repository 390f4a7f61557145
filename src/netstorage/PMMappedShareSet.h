// The network shares the share mapper currently has mounted, as the drive qualification asks
// about them: a mounted share counts as a valid drive. Where no mapper runs (the one-shot
// sync, tests) the set is empty (PMNoMappedShares).
//
// Implementations answer from any thread.
#pragma once

#include <QString>

class PMMappedShareSet {
public:
    virtual ~PMMappedShareSet() = default;
    // Whether mountPath is the mount point of a share the mapper maps.
    virtual bool isMappedSharePath(const QString &mountPath) const = 0;
};

class PMNoMappedShares : public PMMappedShareSet {
public:
    bool isMappedSharePath(const QString &) const override { return false; }
};
