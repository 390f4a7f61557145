// The entries of one folder as a tree snapshot read them: names in listing order with the
// attributes their lstat gave, kept compact (a sync may list hundreds of thousands of entries
// at once), and found by name in logarithmic time.
//
//   for (int i = 0; i < listing.count(); ++i) use(listing.nameAt(i), listing.entryAt(i));
//   if (const PMFolderListing::Entry *e = listing.find(name)) ...
//
// A value type; filled by PMTreeSnapshot, then read by one thread.
#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <sys/stat.h>

#include <vector>

class PMFolderListing {
public:
    struct Entry {
        quint32 nameOffset = 0;
        quint32 nameLength = 0;
        quint32 mode = 0; // 0: the entry's attributes could not be read
        quint32 mtimeNanoseconds = 0; // below 10^9; beside mode, no padding (48 bytes)
        qint64 size = 0;
        qint64 mtimeSeconds = 0;
        quint64 device = 0;
        quint64 inode = 0;

        bool isKnown() const { return mode != 0; }
        bool isFolder() const { return S_ISDIR(mode); }
        // The attributes as lstat would give them (mode, size, times, device, inode).
        struct stat toStat() const;
    };

    int count() const { return int(m_entries.size()); }
    QByteArrayView nameAt(int index) const;
    const Entry &entryAt(int index) const { return m_entries[size_t(index)]; }
    // The entry of that name, or nullptr when the folder held none.
    const Entry *find(QByteArrayView name) const;

    // Building (PMTreeSnapshot): unreadable attributes are recorded as an unknown entry.
    void append(const char *name, const struct stat *attributes);
    void finish();

private:
    QByteArrayView nameOf(const Entry &entry) const;

    QByteArray m_names;
    std::vector<Entry> m_entries;
    std::vector<quint32> m_byName; // indexes into m_entries, sorted by name
};
