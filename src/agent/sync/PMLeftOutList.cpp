#include "agent/sync/PMLeftOutList.h"

void PMLeftOutList::record(const QString &path, const PMFilterRefusal &refusal)
{
    std::lock_guard lock(m_mutex);
    m_items.try_emplace(path, refusal);
}

std::vector<PMLeftOutList::Item> PMLeftOutList::items() const
{
    std::lock_guard lock(m_mutex);
    std::vector<Item> items;
    items.reserve(m_items.size());
    for (const auto &[path, refusal] : m_items)
        items.push_back({ path, refusal });
    return items;
}

bool PMLeftOutList::isEmpty() const
{
    std::lock_guard lock(m_mutex);
    return m_items.empty();
}
