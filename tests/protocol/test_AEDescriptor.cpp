// The descriptor model and its makers as both ends use them: four-character codes, booleans,
// numbers and text, file URLs (and the URLs that must not count as a drive), keyword
// parameters, reply errors and the printed form used in the agent's debug lines.
#include "protocol/AEDescriptor.h"

#include <QDir>

#include <gtest/gtest.h>

using namespace protocol;

TEST(FourCharCode, ConvertsBothWays)
{
    EXPECT_EQ(fourCharCode("mdSY"), 0x6D645359u);
    EXPECT_EQ(keyDirectObject, 0x2D2D2D2Du);
    EXPECT_EQ(fourCharCodeToString(kPMSyncItemsProperty), QStringLiteral("ITMZ"));
    EXPECT_EQ(fourCharCodeToString(typeProcessSerialNumber), QStringLiteral("psn "));
    EXPECT_EQ(fourCharCodeToString(0x00FF0A41), QStringLiteral("0x00ff0a41"));
    EXPECT_EQ(fourCharCodeFromString(QStringLiteral("QURY")), kPMQueryID);
    EXPECT_EQ(fourCharCodeFromString(QStringLiteral("0x00ff0a41")), 0x00FF0A41u);
    EXPECT_EQ(fourCharCodeFromString(QStringLiteral("QUR")), std::nullopt);
    EXPECT_EQ(fourCharCodeFromString(QStringLiteral("QURYX")), std::nullopt);
    EXPECT_EQ(fourCharCodeFromString(QStringLiteral("0xZZ")), std::nullopt);
    EXPECT_EQ(fourCharCodeFromString(QStringLiteral("0x 12")), std::nullopt);
    EXPECT_EQ(fourCharCodeFromString(QStringLiteral("Q\tRY")), std::nullopt);
}

TEST(AEDescriptor, ValuesReadBackOnlyFromTheirOwnTypes)
{
    const AEDescriptor yes = AEDescriptor::descriptorWithBOOL(true);
    const AEDescriptor no = AEDescriptor::descriptorWithBOOL(false);
    EXPECT_EQ(yes.descriptorType(), typeTrue);
    EXPECT_EQ(no.descriptorType(), typeFalse);
    EXPECT_TRUE(yes.data().isEmpty());
    EXPECT_TRUE(no.data().isEmpty());
    EXPECT_EQ(yes.booleanValue(), true);
    EXPECT_EQ(no.booleanValue(), false);
    EXPECT_EQ(AEDescriptor::descriptorWithData(typeBoolean, QByteArray(1, '\0')).booleanValue(), false);
    EXPECT_EQ(AEDescriptor::descriptorWithData(typeBoolean, QByteArray(2, '\1')).booleanValue(), std::nullopt);
    EXPECT_EQ(AEDescriptor::descriptorWithInt32(1).booleanValue(), std::nullopt);

    EXPECT_EQ(AEDescriptor::descriptorWithInt32(-123).int32Value(), -123);
    EXPECT_EQ(AEDescriptor::descriptorWithInt32(-123).data(), QByteArray("\xff\xff\xff\x85", 4));
    EXPECT_EQ(AEDescriptor::descriptorWithData(typeSInt32, QByteArray(3, '\0')).int32Value(), std::nullopt);
    EXPECT_EQ(yes.int32Value(), std::nullopt);

    EXPECT_EQ(AEDescriptor::descriptorWithString(QStringLiteral("Größe")).stringValue(), QStringLiteral("Größe"));
    EXPECT_EQ(AEDescriptor::descriptorWithData(typeChar, "abc").stringValue(), QStringLiteral("abc"));
    EXPECT_EQ(AEDescriptor::descriptorWithData(typeUTF8Text, QByteArray("\xc3\x28", 2)).stringValue(), std::nullopt);
    EXPECT_EQ(AEDescriptor::descriptorWithData(typeStatus, "abc").stringValue(), std::nullopt);

    EXPECT_EQ(AEDescriptor::descriptorWithPSN(1, 2).data(), QByteArray("\0\0\0\1\0\0\0\2", 8));
    EXPECT_TRUE(AEDescriptor().isNull());
}

TEST(AEDescriptor, FileURLsOfPaths)
{
    const auto drive = AEDescriptor::descriptorWithPathAsCFURL(QStringLiteral("/media/alice/My Backup"));
    ASSERT_TRUE(drive.has_value());
    EXPECT_EQ(drive->descriptorType(), typeFileURL);
    EXPECT_EQ(drive->data(), QByteArray("file:///media/alice/My%20Backup"));
    EXPECT_EQ(drive->getFileURL().toLocalFile(), QStringLiteral("/media/alice/My Backup"));
    EXPECT_EQ(drive->filePath(), QStringLiteral("/media/alice/My Backup"));

    const auto accented = AEDescriptor::descriptorWithFilePath(QStringLiteral("/media/José/100%"));
    ASSERT_TRUE(accented.has_value());
    EXPECT_EQ(accented->data(), QByteArray("file:///media/Jos%C3%A9/100%25"));
    EXPECT_EQ(accented->filePath(), QStringLiteral("/media/José/100%"));

    const auto relative = AEDescriptor::descriptorWithFilePath(QStringLiteral("Music"));
    ASSERT_TRUE(relative.has_value());
    EXPECT_EQ(relative->filePath(), QDir::currentPath() + QStringLiteral("/Music"));

    EXPECT_FALSE(AEDescriptor::descriptorWithPathAsCFURL(QString()).has_value());
    EXPECT_FALSE(AEDescriptor::descriptorWithPathAsCFURL(QStringLiteral("/media/a") + QChar(0) + QStringLiteral("b"))
                     .has_value());
    EXPECT_FALSE(AEDescriptor::descriptorWithFileURL(QUrl()).has_value());
    EXPECT_FALSE(AEDescriptor::descriptorWithFileURL(QUrl(QStringLiteral("relative/path"))).has_value());
    EXPECT_EQ(AEDescriptor::descriptorWithFileURL(QUrl::fromLocalFile(QStringLiteral("/srv")))->data(),
        QByteArray("file:///srv"));
}

TEST(AEDescriptor, OnlyLocalFileURLsCountAsDrives)
{
    auto furl = [](const QByteArray &bytes) { return AEDescriptor::descriptorWithData(typeFileURL, bytes); };
    EXPECT_EQ(furl("file://localhost/media/x").filePath(), QStringLiteral("/media/x"));

    // Some other URL: readable as a URL, but no drive.
    EXPECT_EQ(furl("http://example.invalid/x").fileURLValue(), QUrl(QStringLiteral("http://example.invalid/x")));
    EXPECT_TRUE(furl("http://example.invalid/x").getFileURL().isEmpty());
    EXPECT_TRUE(furl("file://otherhost/media/x").getFileURL().isEmpty());
    EXPECT_TRUE(furl("file:///media/a%00b").getFileURL().isEmpty());
    EXPECT_TRUE(furl("media/x").getFileURL().isEmpty());
    EXPECT_TRUE(furl("").getFileURL().isEmpty());
    EXPECT_TRUE(furl("file:///media/with space").getFileURL().isEmpty());
    EXPECT_TRUE(furl(QByteArray("\xff\xfe", 2)).fileURLValue().isEmpty());
    // The same bytes under another type are no file URL either.
    EXPECT_TRUE(AEDescriptor::descriptorWithData(typeUTF8Text, "file:///media/x").getFileURL().isEmpty());
    EXPECT_TRUE(AEDescriptor::descriptorWithData(typeUTF8Text, "file:///media/x").filePath().isEmpty());
}

TEST(AEDescriptor, ListsAndKeywordParameters)
{
    AEDescriptor list = AEDescriptor::listDescriptor();
    EXPECT_TRUE(list.appendDescriptor(AEDescriptor::descriptorWithInt32(2)));
    EXPECT_TRUE(list.insertDescriptor(AEDescriptor::descriptorWithInt32(1), 1));
    EXPECT_TRUE(list.insertDescriptor(AEDescriptor::descriptorWithInt32(3), 99));
    EXPECT_FALSE(list.insertDescriptor(AEDescriptor::descriptorWithInt32(0), 0));
    ASSERT_EQ(list.numberOfItems(), 3);
    for (int index = 1; index <= 3; ++index)
        EXPECT_EQ(list.descriptorAtIndex(index)->int32Value(), index);
    EXPECT_FALSE(list.descriptorAtIndex(0).has_value());
    EXPECT_FALSE(list.descriptorAtIndex(4).has_value());
    EXPECT_FALSE(list.setParamDescriptor(AEDescriptor::descriptorWithInt32(1), keyDirectObject));

    AEDescriptor event = AEDescriptor::appleEvent(kPMEventClass, kPMSetQuietSyncStateID);
    event.setParamDescriptor(AEDescriptor::descriptorWithBOOL(true), kPMQuietSyncStateProperty);
    event.setParamDescriptor(AEDescriptor::descriptorWithInt32(5), keyDirectObject);
    event.setParamDescriptor(AEDescriptor::descriptorWithBOOL(false), kPMQuietSyncStateProperty);
    EXPECT_EQ(event.paramKeywords(), (QList<AEKeyword> { kPMQuietSyncStateProperty, keyDirectObject }));
    EXPECT_EQ(event.paramDescriptorForKeyword(kPMQuietSyncStateProperty)->booleanValue(), false);
    EXPECT_TRUE(event.removeParamDescriptor(kPMQuietSyncStateProperty));
    EXPECT_FALSE(event.removeParamDescriptor(kPMQuietSyncStateProperty));
    EXPECT_EQ(event.numberOfItems(), 1);
    EXPECT_FALSE(event.paramDescriptorForKeyword(kPMQuietSyncStateProperty).has_value());
    EXPECT_FALSE(AEDescriptor::recordDescriptor().setAttributeDescriptor(AEDescriptor(), keyAddressAttr));

    // Copies are independent values.
    AEDescriptor copy = event;
    copy.setParamDescriptor(AEDescriptor::descriptorWithInt32(6), keyDirectObject);
    EXPECT_EQ(event.paramDescriptorForKeyword(keyDirectObject)->int32Value(), 5);
    EXPECT_NE(copy, event);
}

TEST(AEDescriptor, ReplyErrors)
{
    AEDescriptor reply = AEDescriptor::replyEvent();
    EXPECT_EQ(reply.eventClass(), kCoreEventClass);
    EXPECT_EQ(reply.eventID(), kAEAnswer);
    EXPECT_EQ(reply.errorNumber(), 0);
    EXPECT_FALSE(reply.errorString().has_value());
    reply.setParamDescriptor(AEDescriptor::descriptorWithInt32(kBadVolumeFormatErr), keyErrorNumber);
    reply.setParamDescriptor(AEDescriptor::descriptorWithString(QStringLiteral("bad volume format")), keyErrorString);
    EXPECT_EQ(reply.errorNumber(), -123);
    EXPECT_EQ(reply.errorString(), QStringLiteral("bad volume format"));
    // An 'errn' that is not a 32-bit number reads as no error number.
    reply.setParamDescriptor(AEDescriptor::descriptorWithString(QStringLiteral("-1")), keyErrorNumber);
    EXPECT_EQ(reply.errorNumber(), 0);
}

TEST(AEDescriptor, PropertySpecifierNamesItsParts)
{
    const AEDescriptor container = AEDescriptor::recordDescriptor(typeObjectSpecifier);
    const AEDescriptor specifier = AEDescriptor::propertyDescriptorOfType(fourCharCode("pnam"), container);
    EXPECT_EQ(specifier.descriptorType(), typeObjectSpecifier);
    EXPECT_EQ(specifier.paramDescriptorForKeyword(keyAEDesiredClass)->data(), QByteArray("prop"));
    EXPECT_EQ(specifier.paramDescriptorForKeyword(keyAEKeyForm)->data(), QByteArray("prop"));
    EXPECT_EQ(specifier.paramDescriptorForKeyword(keyAEKeyData)->data(), QByteArray("pnam"));
    EXPECT_EQ(*specifier.paramDescriptorForKeyword(keyAEContainer), container);
}

TEST(AEDescriptor, PrintedForm)
{
    AEDescriptor items = AEDescriptor::listDescriptor();
    items.appendDescriptor(*AEDescriptor::descriptorWithFilePath(QStringLiteral("/home/a b")));
    items.appendDescriptor(AEDescriptor::descriptorWithBOOL(true));
    AEDescriptor event = AEDescriptor::appleEvent(kPMEventClass, kPMSetSyncListID);
    event.setParamDescriptor(*AEDescriptor::descriptorWithFilePath(QStringLiteral("/media/B")), keyDirectObject);
    event.setParamDescriptor(items, kPMSyncItemsProperty);
    event.setParamDescriptor(AEDescriptor::descriptorWithInt32(-50), keyErrorNumber);
    event.setParamDescriptor(AEDescriptor::descriptorWithString(QStringLiteral("say \"hi\"\n")), keyErrorString);
    event.setAttributeDescriptor(AEDescriptor(), keyAddressAttr);
    EXPECT_EQ(event.description(),
        QStringLiteral("'mdSY'\\'SETL'{ '----':'furl'(\"file:///media/B\"), "
                       "'ITMZ':['furl'(\"file:///home/a%20b\"), 'true'], 'errn':'long'(-50), "
                       "'errs':'utf8'(\"say \\\"hi\\\"\\n\"), &'addr':null() }"));
    EXPECT_EQ(AEDescriptor::descriptorWithData(typeStatus, QByteArray("\x01\xab", 2)).description(),
        QStringLiteral("'STAT'($01ab$)"));
    EXPECT_EQ(AEDescriptor::descriptorWithData(0x01020304, QByteArray(100, 'x')).description(),
        QStringLiteral("0x01020304($") + QStringLiteral("78").repeated(64) + QStringLiteral("...(100 bytes)$)"));
    EXPECT_EQ(AEDescriptor::recordDescriptor().description(), QStringLiteral("{}"));
}
