// Reads the attributes of everything below some drive folders on a thread of its own, so the
// item walk that compares the computer with the drive finds the drive's side already in the
// kernel's caches. With a cold cache every look at a file may wait for the disk; the walk of
// the computer's side (the progress total) and this one then wait at the same time instead
// of one after the other.
//
//   PMDriveMetadataPrefetcher prefetch({ driveFolder });   // starts at once
//   ... walk the computer's side, compare ...
//   prefetch.stop();                                      // or let the destructor stop it
//
// Nothing is kept or changed: only directories are listed and entries examined, links are
// never followed and other file systems never entered. Start, stop and destruction on one
// thread (the drive's worker); the walk itself runs on the prefetcher's own thread.
#pragma once

#include <QString>
#include <QStringList>

#include <atomic>
#include <thread>

class PMDriveMetadataPrefetcher {
public:
    explicit PMDriveMetadataPrefetcher(const QStringList &folders);
    ~PMDriveMetadataPrefetcher();
    PMDriveMetadataPrefetcher(const PMDriveMetadataPrefetcher &) = delete;
    PMDriveMetadataPrefetcher &operator=(const PMDriveMetadataPrefetcher &) = delete;

    // Asks the walk to end and waits for it.
    void stop();
    // How many entries the walk examined; final once stop() returned.
    quint64 examinedCount() const { return m_examined.load(); }

private:
    void walk(const QStringList &folders);

    std::atomic<bool> m_stop { false };
    std::atomic<quint64> m_examined { 0 };
    std::thread m_thread;
};
