// Asks the kernel to start reading the next files a job will copy while it still copies the
// ones before them. A sync that copies many small files from a cold cache otherwise waits for
// each file's first block in turn; told a few files ahead, the disk reads them while the copy
// writes, and the copy finds their pages in memory.
//
//   PMCopyReadAhead readAhead({ "/home/a/x.mp3", "/home/a/y.mp3", ... });
//   for (qsizetype i = 0; ...) { readAhead.reached(i); copy(i); }
//
// Only advice: nothing is read into the process, nothing changes, files that are gone, are no
// regular files or cannot be opened are passed over. One thread (the job's worker).
#pragma once

#include <QByteArray>
#include <QStringList>

#include <vector>

class PMCopyReadAhead {
public:
    static constexpr int kDefaultWindow = 16;
    // The copy's own sequential read-ahead takes over within a file; only its start matters.
    static constexpr qint64 kMaxBytesPerFile = qint64(8) * 1024 * 1024;

    explicit PMCopyReadAhead(const QStringList &paths, int window = kDefaultWindow);

    // The copy of paths[index] starts: the files up to index + window are asked for.
    void reached(qsizetype index);
    // How many files were advised so far.
    qsizetype advisedCount() const { return m_advisedCount; }

private:
    void advise(const QByteArray &path);

    std::vector<QByteArray> m_paths;
    int m_window;
    qsizetype m_next = 0;
    qsizetype m_advisedCount = 0;
};
