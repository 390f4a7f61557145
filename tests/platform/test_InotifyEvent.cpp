// Decoding the bytes of an inotify read, built here exactly as the kernel lays them out.
#include "platform/InotifyEvent.h"

#include <gtest/gtest.h>

#include <sys/inotify.h>

#include <cstring>

using platform::InotifyEvent;

namespace {

// One record: header, then the name padded with NULs to nameSpace bytes.
QByteArray record(int watch, std::uint32_t mask, std::uint32_t cookie, const QByteArray &name, std::uint32_t nameSpace)
{
    inotify_event header = {};
    header.wd = watch;
    header.mask = mask;
    header.cookie = cookie;
    header.len = nameSpace;
    QByteArray bytes(reinterpret_cast<const char *>(&header), sizeof header);
    QByteArray padded = name;
    padded.resize(nameSpace, '\0');
    return bytes + padded;
}

TEST(InotifyEventTest, DecodesNamedEventsOverflowAndNamesWithoutPadding)
{
    const QByteArray bytes = record(3, IN_CREATE | IN_ISDIR, 0, "album", 16) + record(-1, IN_Q_OVERFLOW, 0, {}, 0)
        + record(7, IN_MOVED_FROM, 42, "exact1234567", 12) // fills its space, no terminator
        + record(7, IN_MOVED_TO, 42, "caf\xc3\xa9", 16) + record(1, IN_DELETE_SELF, 0, {}, 0);

    const QList<InotifyEvent> events = InotifyEvent::decode(bytes.constData(), bytes.size());
    ASSERT_EQ(events.size(), 5);
    EXPECT_EQ(events[0].watch, 3);
    EXPECT_EQ(events[0].mask, std::uint32_t(IN_CREATE | IN_ISDIR));
    EXPECT_EQ(events[0].name, "album");
    EXPECT_EQ(events[1].watch, -1);
    EXPECT_TRUE(events[1].mask & IN_Q_OVERFLOW);
    EXPECT_TRUE(events[1].name.isEmpty());
    EXPECT_EQ(events[2].name, "exact1234567");
    EXPECT_EQ(events[2].cookie, 42u);
    EXPECT_EQ(events[3].name, "caf\xc3\xa9");
    EXPECT_EQ(events[3].cookie, 42u);
    EXPECT_EQ(events[4].watch, 1);
    EXPECT_EQ(events[4].mask, std::uint32_t(IN_DELETE_SELF));
}

TEST(InotifyEventTest, RecordsCutShortAreDropped)
{
    const QByteArray whole = record(2, IN_MODIFY, 0, "file", 16);
    const QByteArray bytes = whole + record(2, IN_ATTRIB, 0, "other", 16);

    // Cut inside the second record's name, inside its header, and a name space claiming
    // more than there is.
    for (const qsizetype size : { bytes.size() - 1, whole.size() + 4 }) {
        const QList<InotifyEvent> events = InotifyEvent::decode(bytes.constData(), size);
        ASSERT_EQ(events.size(), 1) << size;
        EXPECT_EQ(events[0].name, "file");
    }
    QByteArray lying = record(2, IN_MODIFY, 0, "file", 16);
    lying.chop(8);
    EXPECT_TRUE(InotifyEvent::decode(lying.constData(), lying.size()).isEmpty());
    EXPECT_TRUE(InotifyEvent::decode(nullptr, 0).isEmpty());
}

} // namespace
