// One record read from an inotify descriptor, and the decoder that splits the bytes of a read
// into records. Pure: tested on canned bytes.
//
//   for (const InotifyEvent &event : InotifyEvent::decode(buffer, bytesRead)) ...
//
// A record cut short at the end of the bytes is dropped (the kernel never returns one, but
// the decoder must not read past what it was given).
#pragma once

#include <QByteArray>
#include <QList>

#include <cstdint>

namespace platform {

struct InotifyEvent {
    int watch = -1; // the watch descriptor; -1 for a queue overflow
    std::uint32_t mask = 0; // IN_* bits
    std::uint32_t cookie = 0; // pairs IN_MOVED_FROM with IN_MOVED_TO
    QByteArray name; // the entry's name inside the watched folder, without padding; may be empty

    static QList<InotifyEvent> decode(const char *bytes, qsizetype size);
};

} // namespace platform
