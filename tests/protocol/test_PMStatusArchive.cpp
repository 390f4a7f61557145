// The drive status of the 'INFO' reply: the per-user dictionary survives the 'STAT'
// descriptor and the flattened reply with its types intact, and whatever is not a status
// archive is refused rather than read as an empty status.
#include "protocol/AECodec.h"
#include "protocol/PMStatusArchive.h"

#include <QDateTime>

#include <gtest/gtest.h>

using namespace protocol;

TEST(PMStatusArchive, StatusTravelsWholeInTheReply)
{
    const QDateTime lastSync(QDate(2026, 3, 14), QTime(9, 26, 53), Qt::UTC);
    const QVariantMap user {
        { QStringLiteral("continuousSyncEnabled"), true },
        { QStringLiteral("quietSyncEnabled"), false },
        { QStringLiteral("participateSyncEnabled"), true },
        { QStringLiteral("computerName"), QStringLiteral("Alice's Laptop") },
        { QStringLiteral("syncSet"), QVariantList { QStringLiteral("~/Music"), QStringLiteral("/srv/photos") } },
        { QStringLiteral("lastSyncTime"), lastSync },
    };
    const QVariantMap status { { QStringLiteral("A1B2C3D4E5F6-1000"), user } };

    const auto descriptor = PMStatusArchive::statusDescriptor(status);
    ASSERT_TRUE(descriptor.has_value());
    EXPECT_EQ(descriptor->descriptorType(), typeStatus);
    EXPECT_TRUE(descriptor->data().startsWith("bplist00"));

    AEDescriptor reply = AEDescriptor::replyEvent();
    reply.setParamDescriptor(*descriptor, keyStatus);
    const auto back = AECodec::unflatten(AECodec::flatten(reply).value_or(QByteArray()));
    ASSERT_TRUE(back.has_value());
    const auto read = PMStatusArchive::statusFromDescriptor(*back->paramDescriptorForKeyword(keyStatus));
    ASSERT_TRUE(read.has_value());
    const QVariantMap readUser = read->value(QStringLiteral("A1B2C3D4E5F6-1000")).toMap();
    EXPECT_EQ(readUser.value(QStringLiteral("continuousSyncEnabled")).typeId(), QMetaType::Bool);
    EXPECT_TRUE(readUser.value(QStringLiteral("continuousSyncEnabled")).toBool());
    EXPECT_FALSE(readUser.value(QStringLiteral("quietSyncEnabled")).toBool());
    EXPECT_EQ(readUser.value(QStringLiteral("computerName")).toString(), QStringLiteral("Alice's Laptop"));
    EXPECT_EQ(readUser.value(QStringLiteral("syncSet")).toStringList(),
        (QStringList { QStringLiteral("~/Music"), QStringLiteral("/srv/photos") }));
    EXPECT_EQ(readUser.value(QStringLiteral("lastSyncTime")).toDateTime(), lastSync);
}

TEST(PMStatusArchive, RefusesWhatIsNoStatus)
{
    QString why;
    EXPECT_FALSE(PMStatusArchive::statusFromDescriptor(AEDescriptor::descriptorWithData(typeStatus, {}), &why));
    EXPECT_TRUE(why.contains(QLatin1String("no data")));
    EXPECT_FALSE(PMStatusArchive::statusFromDescriptor(AEDescriptor::descriptorWithData(typeStatus, "garbage"), &why));
    EXPECT_TRUE(why.contains(QLatin1String("cannot be read")));
    EXPECT_FALSE(PMStatusArchive::statusFromDescriptor(AEDescriptor::descriptorWithString(QStringLiteral("x")), &why));
    EXPECT_TRUE(why.contains(QLatin1String("'STAT'")));

    // A property list whose root is a list is not a status dictionary.
    const AEDescriptor notADictionary = AEDescriptor::descriptorWithData(typeStatus,
        QByteArray("<?xml version=\"1.0\"?><plist version=\"1.0\"><array><integer>1</integer></array></plist>"));
    EXPECT_FALSE(PMStatusArchive::statusFromDescriptor(notADictionary, &why));
    EXPECT_TRUE(why.contains(QLatin1String("not a dictionary")));

    EXPECT_FALSE(PMStatusArchive::statusDescriptor({ { QStringLiteral("bad"), QVariant() } }, &why).has_value());
    EXPECT_TRUE(why.contains(QLatin1String("cannot be archived")));
}
