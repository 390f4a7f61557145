// A cheap summary of a folder tree that changes when anything in it changes: an entry added,
// removed or renamed, a file written, its mode, owner or times changed. Used to notice changes
// by rescanning when change notifications cannot cover a tree.
//
//   const std::optional<quint64> before = TreeFingerprint::compute(root);
//   ... later: if (TreeFingerprint::compute(root) != before) ... // something changed
//
// Walks the tree physically (symbolic links are summarized, never followed, except a root
// that is itself a link) and keeps no state per entry: the cost is one stat per entry and
// constant memory. Any thread; blocking.
#pragma once

#include <QByteArray>

#include <optional>

namespace platform {

class TreeFingerprint {
public:
    // Empty when the root is missing or is not a folder.
    static std::optional<quint64> compute(const QByteArray &rootPath);
};

} // namespace platform
