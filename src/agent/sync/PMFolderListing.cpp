#include "agent/sync/PMFolderListing.h"

#include <algorithm>
#include <cstring>

struct stat PMFolderListing::Entry::toStat() const
{
    struct stat sb = {};
    sb.st_mode = mode;
    sb.st_size = off_t(size);
    sb.st_mtim.tv_sec = time_t(mtimeSeconds);
    sb.st_mtim.tv_nsec = long(mtimeNanoseconds);
    sb.st_dev = dev_t(device);
    sb.st_ino = ino_t(inode);
    sb.st_nlink = 1;
    return sb;
}

QByteArrayView PMFolderListing::nameOf(const Entry &entry) const
{
    return QByteArrayView(m_names.constData() + entry.nameOffset, qsizetype(entry.nameLength));
}

QByteArrayView PMFolderListing::nameAt(int index) const
{
    return nameOf(m_entries[size_t(index)]);
}

void PMFolderListing::append(const char *name, const struct stat *attributes)
{
    Entry entry;
    entry.nameOffset = quint32(m_names.size());
    entry.nameLength = quint32(std::strlen(name));
    m_names.append(name, qsizetype(entry.nameLength));
    if (attributes) {
        entry.mode = attributes->st_mode;
        entry.size = qint64(attributes->st_size);
        entry.mtimeSeconds = qint64(attributes->st_mtim.tv_sec);
        entry.mtimeNanoseconds = quint32(attributes->st_mtim.tv_nsec);
        entry.device = quint64(attributes->st_dev);
        entry.inode = quint64(attributes->st_ino);
    }
    m_entries.push_back(entry);
}

void PMFolderListing::finish()
{
    m_names.squeeze();
    m_entries.shrink_to_fit();
    m_byName.resize(m_entries.size());
    for (size_t i = 0; i < m_byName.size(); ++i)
        m_byName[i] = quint32(i);
    std::sort(m_byName.begin(), m_byName.end(),
        [this](quint32 a, quint32 b) { return nameOf(m_entries[a]) < nameOf(m_entries[b]); });
}

const PMFolderListing::Entry *PMFolderListing::find(QByteArrayView name) const
{
    const auto it = std::lower_bound(m_byName.cbegin(), m_byName.cend(), name,
        [this](quint32 index, QByteArrayView wanted) { return nameOf(m_entries[index]) < wanted; });
    if (it == m_byName.cend() || nameOf(m_entries[*it]) != name)
        return nullptr;
    return &m_entries[*it];
}
