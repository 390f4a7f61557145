// The files a sync job's media filter left out, each with the reason the filter gave when it
// decided, for `pellmere sync --dry-run --explain` and the preview window's "Left out" tab.
//
//   auto leftOut = std::make_shared<PMLeftOutList>();
//   filter->setLeftOutList(leftOut);          // before the walk
//   for (const PMLeftOutList::Item &item : leftOut->items()) ...
//
// record() may be called from any thread at once; items() gives a sorted copy.
#pragma once

#include "agent/media/PMFilterRefusal.h"

#include <QString>

#include <map>
#include <mutex>
#include <vector>

class PMLeftOutList {
public:
    struct Item {
        QString path;
        PMFilterRefusal refusal;
    };

    // A path asked about again keeps its first reason.
    void record(const QString &path, const PMFilterRefusal &refusal);
    // By path.
    std::vector<Item> items() const;
    bool isEmpty() const;

private:
    mutable std::mutex m_mutex;
    std::map<QString, PMFilterRefusal> m_items;
};
