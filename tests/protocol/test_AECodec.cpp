// The flattened byte format: exact round trips of every kind of descriptor, the documented
// layout, and untrusted bytes (truncated, lying lengths and counts, deep nesting, repeated
// keywords, oversized input) refused with a reason instead of crashing or allocating.
#include "protocol/AECodec.h"

#include <gtest/gtest.h>

using namespace protocol;

namespace {

AEDescriptor roundTrip(const AEDescriptor &descriptor)
{
    QString why;
    const auto bytes = AECodec::flatten(descriptor, &why);
    EXPECT_TRUE(bytes.has_value()) << why.toStdString();
    if (!bytes)
        return AEDescriptor();
    const auto back = AECodec::unflatten(*bytes, &why);
    EXPECT_TRUE(back.has_value()) << why.toStdString();
    return back.value_or(AEDescriptor::descriptorWithString(QStringLiteral("decode failed")));
}

AEDescriptor sampleEvent()
{
    AEDescriptor items = AEDescriptor::listDescriptor();
    items.appendDescriptor(*AEDescriptor::descriptorWithFilePath(QStringLiteral("/home/alice/Music")));
    items.appendDescriptor(*AEDescriptor::descriptorWithFilePath(QStringLiteral("/home/alice/My Pictures")));
    AEDescriptor event = AEDescriptor::appleEvent(kPMEventClass, kPMSetSyncListID);
    event.setParamDescriptor(
        *AEDescriptor::descriptorWithFilePath(QStringLiteral("/media/alice/Backup")), keyDirectObject);
    event.setParamDescriptor(items, kPMSyncItemsProperty);
    event.setAttributeDescriptor(AEDescriptor::descriptorWithPSN(0, 4242), keyAddressAttr);
    return event;
}

QByteArray flattened(const AEDescriptor &descriptor)
{
    return AECodec::flatten(descriptor).value_or(QByteArray());
}

QByteArray be32(quint32 value)
{
    QByteArray bytes;
    for (int shift = 24; shift >= 0; shift -= 8)
        bytes.append(char((value >> shift) & 0xFF));
    return bytes;
}

QByteArray header()
{
    return QByteArray("PMAE") + char(AECodec::kFormatVersion);
}

// `levels` lists, each holding the next, around one empty data descriptor.
QByteArray nestedLists(int levels)
{
    QByteArray bytes = header();
    for (int level = 0; level < levels; ++level)
        bytes += be32(typeAEList) + char(1) + be32(1);
    bytes += be32(typeTrue) + char(0) + be32(0);
    return bytes;
}

QString decodeError(const QByteArray &bytes)
{
    QString why;
    const auto result = AECodec::unflatten(bytes, &why);
    if (result)
        return QStringLiteral("<accepted>");
    return why;
}

} // namespace

TEST(AECodec, EveryDataDescriptorComesBackIdentical)
{
    const QList<AEDescriptor> samples = {
        AEDescriptor::nullDescriptor(), AEDescriptor::descriptorWithBOOL(true), AEDescriptor::descriptorWithBOOL(false),
        AEDescriptor::descriptorWithData(typeBoolean, QByteArray(1, '\1')), AEDescriptor::descriptorWithInt32(-50),
        AEDescriptor::descriptorWithInt32(std::numeric_limits<qint32>::min()),
        AEDescriptor::descriptorWithString(QStringLiteral("drive is not valid for sync")),
        AEDescriptor::descriptorWithString(QStringLiteral("Größe ✓ 日本")),
        AEDescriptor::descriptorWithData(typeChar, QByteArray("plain")),
        *AEDescriptor::descriptorWithFilePath(QStringLiteral("/media/alice/My Drive #1")),
        AEDescriptor::descriptorWithPSN(0x01020304, 0xA0B0C0D0),
        AEDescriptor::descriptorWithData(typeStatus, QByteArray("bplist00\0\xff\x01", 11)),
        AEDescriptor::descriptorWithData(fourCharCode("xyz "), QByteArray()),
        AEDescriptor::descriptorWithData(typeSInt32, QByteArray("\1\2", 2)), // malformed value, kept as bytes
    };
    for (const AEDescriptor &sample : samples) {
        const AEDescriptor back = roundTrip(sample);
        EXPECT_EQ(back, sample) << sample.description().toStdString() << " came back as "
                                << back.description().toStdString();
        EXPECT_EQ(back.form(), AEDescriptor::Form::Data);
    }
}

TEST(AECodec, ContainersComeBackWithOrderAndNesting)
{
    AEDescriptor inner = AEDescriptor::listDescriptor();
    inner.appendDescriptor(AEDescriptor::descriptorWithInt32(1));
    inner.appendDescriptor(AEDescriptor::listDescriptor());
    AEDescriptor list = AEDescriptor::listDescriptor();
    list.appendDescriptor(AEDescriptor::descriptorWithString(QStringLiteral("first")));
    list.appendDescriptor(inner);
    list.appendDescriptor(AEDescriptor::descriptorWithBOOL(false));

    AEDescriptor record = AEDescriptor::recordDescriptor();
    record.setParamDescriptor(AEDescriptor::descriptorWithInt32(7), fourCharCode("zzzz"));
    record.setParamDescriptor(list, fourCharCode("aaaa"));
    const AEDescriptor specifier = AEDescriptor::propertyDescriptorOfType(
        fourCharCode("pnam"), AEDescriptor::recordDescriptor(typeObjectSpecifier));

    for (const AEDescriptor &sample : { AEDescriptor::listDescriptor(), list, record, specifier }) {
        const AEDescriptor back = roundTrip(sample);
        EXPECT_EQ(back, sample) << sample.description().toStdString();
        EXPECT_EQ(back.description(), sample.description());
    }
    const AEDescriptor back = roundTrip(record);
    EXPECT_EQ(back.paramKeywords(), (QList<AEKeyword> { fourCharCode("zzzz"), fourCharCode("aaaa") }));
    EXPECT_EQ(back.paramDescriptorForKeyword(fourCharCode("aaaa"))->descriptorAtIndex(2)->numberOfItems(), 2);
}

TEST(AECodec, EventsAndRepliesComeBackWhole)
{
    const AEDescriptor event = sampleEvent();
    const AEDescriptor back = roundTrip(event);
    EXPECT_EQ(back, event);
    EXPECT_EQ(back.eventClass(), kPMEventClass);
    EXPECT_EQ(back.eventID(), kPMSetSyncListID);
    EXPECT_EQ(back.attributeDescriptorForKeyword(keyAddressAttr)->data(), QByteArray("\0\0\0\0\0\0\x10\x92", 8));
    EXPECT_EQ(back.paramDescriptorForKeyword(keyDirectObject)->filePath(), QStringLiteral("/media/alice/Backup"));

    AEDescriptor reply = AEDescriptor::replyEvent();
    reply.setParamDescriptor(AEDescriptor::descriptorWithBOOL(false), keyDirectObject);
    reply.setParamDescriptor(AEDescriptor::descriptorWithInt32(kParamErr), keyErrorNumber);
    reply.setParamDescriptor(
        AEDescriptor::descriptorWithString(QStringLiteral("drive is not valid for sync")), keyErrorString);
    const AEDescriptor replyBack = roundTrip(reply);
    EXPECT_EQ(replyBack, reply);
    EXPECT_EQ(replyBack.errorNumber(), kParamErr);
    EXPECT_EQ(replyBack.errorString(), QStringLiteral("drive is not valid for sync"));
    EXPECT_EQ(flattened(replyBack), flattened(reply));
}

TEST(AECodec, LayoutIsTheDocumentedOne)
{
    EXPECT_EQ(flattened(AEDescriptor::descriptorWithInt32(-50)),
        header() + QByteArray("long") + char(0) + be32(4) + be32(quint32(-50)));

    AEDescriptor list = AEDescriptor::listDescriptor();
    list.appendDescriptor(AEDescriptor::descriptorWithBOOL(true));
    EXPECT_EQ(
        flattened(list), header() + QByteArray("list") + char(1) + be32(1) + QByteArray("true") + char(0) + be32(0));

    AEDescriptor event = AEDescriptor::appleEvent(kPMEventClass, kPMQueryID);
    event.setParamDescriptor(AEDescriptor::descriptorWithData(typeFileURL, "file:///m"), keyDirectObject);
    EXPECT_EQ(flattened(event),
        header() + QByteArray("aevt") + char(3) + QByteArray("mdSYQURY") + be32(0) + be32(1) + QByteArray("----")
            + QByteArray("furl") + char(0) + be32(9) + QByteArray("file:///m"));
}

TEST(AECodec, RefusesBytesThatAreNotAMessage)
{
    EXPECT_TRUE(decodeError(QByteArray()).contains(QLatin1String("PMAE")));
    EXPECT_TRUE(decodeError(QByteArray("XMAE\1")).contains(QLatin1String("PMAE")));
    QByteArray future = flattened(AEDescriptor::descriptorWithBOOL(true));
    future[4] = char(AECodec::kFormatVersion + 1);
    EXPECT_TRUE(decodeError(future).contains(QLatin1String("version")));
    EXPECT_TRUE(decodeError(header() + QByteArray("true") + char(9) + be32(0)).contains(QLatin1String("form")));
}

TEST(AECodec, EveryTruncationOfAnEventIsRefused)
{
    const QByteArray whole = flattened(sampleEvent());
    ASSERT_FALSE(whole.isEmpty());
    for (qsizetype length = 0; length < whole.size(); ++length)
        EXPECT_FALSE(AECodec::unflatten(whole.first(length)).has_value()) << "prefix of " << length << " bytes";
    EXPECT_TRUE(decodeError(whole + char(0)).contains(QLatin1String("after the descriptor")));
}

TEST(AECodec, RefusesLengthsAndCountsBeyondTheInput)
{
    EXPECT_TRUE(decodeError(header() + QByteArray("utf8") + char(0) + be32(5) + QByteArray("abcd"))
                    .contains(QLatin1String("data length 5")));
    EXPECT_TRUE(
        decodeError(header() + QByteArray("utf8") + char(0) + be32(0xFFFFFFFF)).contains(QLatin1String("data length")));
    // Counts that would make the reader reserve gigabytes are refused before any allocation.
    EXPECT_TRUE(
        decodeError(header() + QByteArray("list") + char(1) + be32(0xFFFFFFFF)).contains(QLatin1String("count")));
    EXPECT_TRUE(decodeError(header() + QByteArray("reco") + char(2) + be32(0x10000000) + QByteArray(40, '\0'))
                    .contains(QLatin1String("count")));
    EXPECT_TRUE(decodeError(header() + QByteArray("aevt") + char(3) + QByteArray("mdSYQURY") + be32(0xFFFFFF00))
                    .contains(QLatin1String("count")));
}

TEST(AECodec, LimitsNestingDepthAndDescriptorCount)
{
    // The top-level descriptor is level 1, so 31 lists around a value make 32 levels.
    EXPECT_TRUE(AECodec::unflatten(nestedLists(AECodec::kMaxDepth - 1)).has_value());
    EXPECT_TRUE(decodeError(nestedLists(AECodec::kMaxDepth)).contains(QLatin1String("nested")));
    EXPECT_TRUE(decodeError(nestedLists(100000)).contains(QLatin1String("nested")));

    QByteArray many = header() + QByteArray("list") + char(1) + be32(quint32(AECodec::kMaxDescriptors));
    for (qsizetype index = 0; index < AECodec::kMaxDescriptors; ++index)
        many += QByteArray("true") + char(0) + be32(0);
    EXPECT_TRUE(decodeError(many).contains(QLatin1String("more than")));

    QByteArray oversized(AECodec::kMaxMessageSize + 1, '\0');
    oversized.replace(0, 5, header());
    EXPECT_TRUE(decodeError(oversized).contains(QLatin1String("larger than")));
}

TEST(AECodec, RefusesShapesTheModelCannotHold)
{
    const QByteArray twice = header() + QByteArray("reco") + char(2) + be32(2) + QByteArray("kkkk") + QByteArray("true")
        + char(0) + be32(0) + QByteArray("kkkk") + QByteArray("fals") + char(0) + be32(0);
    EXPECT_TRUE(decodeError(twice).contains(QLatin1String("repeated")));
    EXPECT_TRUE(decodeError(header() + QByteArray("utf8") + char(1) + be32(0)).contains(QLatin1String("list form")));
    EXPECT_TRUE(decodeError(header() + QByteArray("reco") + char(3) + QByteArray("mdSYQURY") + be32(0) + be32(0))
                    .contains(QLatin1String("event form")));
}

TEST(AECodec, WriterRefusesWhatTheReaderWouldRefuse)
{
    AEDescriptor deep = AEDescriptor::descriptorWithBOOL(true);
    for (int level = 1; level < AECodec::kMaxDepth; ++level) {
        AEDescriptor list = AEDescriptor::listDescriptor();
        list.appendDescriptor(deep);
        deep = list;
    }
    EXPECT_TRUE(AECodec::flatten(deep).has_value());
    AEDescriptor tooDeep = AEDescriptor::listDescriptor();
    tooDeep.appendDescriptor(deep);
    QString why;
    EXPECT_FALSE(AECodec::flatten(tooDeep, &why).has_value());
    EXPECT_TRUE(why.contains(QLatin1String("nested")));

    const AEDescriptor huge = AEDescriptor::descriptorWithData(typeStatus, QByteArray(AECodec::kMaxMessageSize, 'x'));
    EXPECT_FALSE(AECodec::flatten(huge, &why).has_value());
    EXPECT_TRUE(why.contains(QLatin1String("larger than")));
}
