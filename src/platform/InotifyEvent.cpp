#include "platform/InotifyEvent.h"

#include <sys/inotify.h>

#include <cstring>

namespace platform {

QList<InotifyEvent> InotifyEvent::decode(const char *bytes, qsizetype size)
{
    QList<InotifyEvent> events;
    qsizetype offset = 0;
    while (size - offset >= qsizetype(sizeof(inotify_event))) {
        // The buffer need not be aligned for inotify_event; copy the fixed part out.
        inotify_event header;
        std::memcpy(&header, bytes + offset, sizeof header);
        const qsizetype nameSpace = qsizetype(header.len);
        if (nameSpace > size - offset - qsizetype(sizeof header))
            break;
        InotifyEvent event;
        event.watch = header.wd;
        event.mask = header.mask;
        event.cookie = header.cookie;
        if (nameSpace > 0) {
            const char *name = bytes + offset + sizeof header;
            // The name is padded with NULs up to len; a name filling len exactly has none.
            event.name = QByteArray(name, qsizetype(::strnlen(name, size_t(nameSpace))));
        }
        events.append(std::move(event));
        offset += qsizetype(sizeof header) + nameSpace;
    }
    return events;
}

} // namespace platform
