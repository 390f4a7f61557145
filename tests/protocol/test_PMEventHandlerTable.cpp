// The frame every control handler runs in: the drive's path from the direct object, the
// common errors for a missing or unusable direct object, the order of '----', 'errn' and
// 'errs' in the reply, nothing written for a sender that wants no reply, events without a
// handler, and the debug lines built from the handler's name.
#include "protocol/PMEventHandlerTable.h"

#include <gtest/gtest.h>

using namespace protocol;

namespace {

AEDescriptor eventFor(AEEventID id, const QString &mountPath)
{
    AEDescriptor event = AEDescriptor::appleEvent(kPMEventClass, id);
    if (!mountPath.isEmpty())
        event.setParamDescriptor(*AEDescriptor::descriptorWithFilePath(mountPath), keyDirectObject);
    return event;
}

class PMEventHandlerTableTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        table.setDebugSink([this](const QString &line) { debugLines << line; });
        table.installHandler(
            kPMEventClass, kPMQueryID, { QStringLiteral("handleQueryEvent"), [this](const PMHandlerRequest &request) {
                                            paths << request.mountPath;
                                            return PMHandlerResult { AEDescriptor::descriptorWithBOOL(false), kParamErr,
                                                QStringLiteral("drive is not valid for sync") };
                                        } });
        table.installHandler(kPMEventClass, kPMGetSyncMoviesStateID,
            { QStringLiteral("handleSyncMoviesStateEvent"),
                [this](const PMHandlerRequest &request) {
                    paths << request.mountPath;
                    return PMHandlerResult::withValue(AEDescriptor::descriptorWithBOOL(true));
                },
                PMEventHandler::MissingObjectText::LowerCase, true });
    }

    PMEventHandlerTable table;
    QStringList paths;
    QStringList debugLines;
};

} // namespace

TEST_F(PMEventHandlerTableTest, ResultThenErrorNumberThenText)
{
    AEDescriptor reply = AEDescriptor::replyEvent();
    EXPECT_EQ(table.dispatch(eventFor(kPMQueryID, QStringLiteral("/media/alice/No Drive")), reply), kNoErr);
    EXPECT_EQ(paths, QStringList { QStringLiteral("/media/alice/No Drive") });
    EXPECT_EQ(reply.paramKeywords(), (QList<AEKeyword> { keyDirectObject, keyErrorNumber, keyErrorString }));
    EXPECT_EQ(reply.paramDescriptorForKeyword(keyDirectObject)->descriptorType(), typeFalse);
    EXPECT_EQ(reply.errorNumber(), kParamErr);
    EXPECT_EQ(reply.errorString(), QStringLiteral("drive is not valid for sync"));
}

TEST_F(PMEventHandlerTableTest, SuccessWritesOnlyTheResult)
{
    AEDescriptor reply = AEDescriptor::replyEvent();
    table.dispatch(eventFor(kPMGetSyncMoviesStateID, QStringLiteral("/media/x")), reply);
    EXPECT_EQ(reply.paramKeywords(), QList<AEKeyword> { keyDirectObject });
    EXPECT_EQ(reply.paramDescriptorForKeyword(keyDirectObject)->booleanValue(), true);

    // A text without a number is still answered, and a number without a text alone.
    table.installHandler(kPMEventClass, kPMSetSyncDeviceFilterID,
        { QStringLiteral("handleSetSyncDeviceFilterEvent"),
            [](const PMHandlerRequest &) { return PMHandlerResult::withError(kParamErr); } });
    AEDescriptor filterReply = AEDescriptor::replyEvent();
    table.dispatch(eventFor(kPMSetSyncDeviceFilterID, QStringLiteral("/media/x")), filterReply);
    EXPECT_EQ(filterReply.paramKeywords(), QList<AEKeyword> { keyErrorNumber });
    EXPECT_EQ(filterReply.errorNumber(), kParamErr);
}

TEST_F(PMEventHandlerTableTest, MissingDirectObjectIsAnsweredWithoutRunningTheAction)
{
    AEDescriptor reply = AEDescriptor::replyEvent();
    table.dispatch(eventFor(kPMQueryID, QString()), reply);
    EXPECT_EQ(reply.errorNumber(), kParamErr);
    EXPECT_EQ(reply.errorString(), QStringLiteral("unable to get Event Descriptor"));
    EXPECT_FALSE(reply.paramDescriptorForKeyword(keyDirectObject).has_value());

    AEDescriptor mediaReply = AEDescriptor::replyEvent();
    table.dispatch(eventFor(kPMGetSyncMoviesStateID, QString()), mediaReply);
    EXPECT_EQ(mediaReply.errorString(), QStringLiteral("unable to get event descriptor"));
    EXPECT_TRUE(paths.isEmpty());
    EXPECT_TRUE(debugLines.contains(QStringLiteral("-handleQueryEvent: unable to get Event Descriptor.")));
    EXPECT_TRUE(debugLines.contains(QStringLiteral("-handleSyncMoviesStateEvent: unable to get event descriptor.")));
}

TEST_F(PMEventHandlerTableTest, DirectObjectWithoutFileURLIsNoMainURL)
{
    const QList<AEDescriptor> notDrives = {
        AEDescriptor::descriptorWithString(QStringLiteral("/media/x")),
        AEDescriptor::descriptorWithData(typeFileURL, "smb://nas/share"),
        AEDescriptor::descriptorWithData(typeFileURL, "file://nas/share"),
        AEDescriptor::listDescriptor(),
    };
    for (const AEDescriptor &directObject : notDrives) {
        AEDescriptor event = AEDescriptor::appleEvent(kPMEventClass, kPMQueryID);
        event.setParamDescriptor(directObject, keyDirectObject);
        AEDescriptor reply = AEDescriptor::replyEvent();
        table.dispatch(event, reply);
        EXPECT_EQ(reply.errorNumber(), kParamErr) << directObject.description().toStdString();
        EXPECT_EQ(reply.errorString(), QStringLiteral("unable to retrieve main URL"));
    }
    EXPECT_TRUE(paths.isEmpty());
}

TEST_F(PMEventHandlerTableTest, SenderWithoutReplyGetsTheActionButNoAnswer)
{
    AEDescriptor noReply;
    EXPECT_EQ(table.dispatch(eventFor(kPMQueryID, QStringLiteral("/media/y")), noReply), kNoErr);
    EXPECT_EQ(paths, QStringList { QStringLiteral("/media/y") });
    EXPECT_EQ(noReply, AEDescriptor::nullDescriptor());
    EXPECT_EQ(debugLines.last(), QStringLiteral("< handleQueryEvent: null()"));
}

TEST_F(PMEventHandlerTableTest, EventWithoutHandlerIsNotHandled)
{
    AEDescriptor reply = AEDescriptor::replyEvent();
    EXPECT_EQ(table.dispatch(eventFor(kPMStartID, QStringLiteral("/media/x")), reply), kErrAEEventNotHandled);
    EXPECT_EQ(reply.errorNumber(), kErrAEEventNotHandled);

    AEDescriptor otherClass = AEDescriptor::appleEvent(fourCharCode("xxxx"), kPMQueryID);
    AEDescriptor noReply;
    EXPECT_EQ(table.dispatch(otherClass, noReply), kErrAEEventNotHandled);
    EXPECT_TRUE(noReply.isNull());
    EXPECT_TRUE(paths.isEmpty());

    EXPECT_TRUE(table.removeHandler(kPMEventClass, kPMQueryID));
    EXPECT_FALSE(table.hasHandler(kPMEventClass, kPMQueryID));
    EXPECT_EQ(table.dispatch(eventFor(kPMQueryID, QStringLiteral("/media/x")), reply), kErrAEEventNotHandled);
}

TEST_F(PMEventHandlerTableTest, DebugLinesTraceEntryURLAndExit)
{
    const AEDescriptor event = eventFor(kPMGetSyncMoviesStateID, QStringLiteral("/media/z"));
    AEDescriptor reply = AEDescriptor::replyEvent();
    table.dispatch(event, reply);
    EXPECT_EQ(debugLines,
        (QStringList { QStringLiteral("> handleSyncMoviesStateEvent: ") + event.description() + '.',
            QStringLiteral("-handleSyncMoviesStateEvent: main URL is /media/z"),
            QStringLiteral("< handleSyncMoviesStateEvent: ") + reply.description() + '.' }));
    EXPECT_TRUE(reply.description().contains(QLatin1String("'----':'true'")));
}

TEST_F(PMEventHandlerTableTest, AnEventAboutTheAgentRunsWithoutADriveAndIgnoresOne)
{
    PMEventHandler shares { QStringLiteral("handleListSharesEvent"), [this](const PMHandlerRequest &request) {
                               paths << request.mountPath;
                               return PMHandlerResult::withValue(AEDescriptor::listDescriptor());
                           } };
    shares.needsDrive = false;
    table.installHandler(kPMEventClass, kPMListSharesID, shares);

    AEDescriptor reply = AEDescriptor::replyEvent();
    table.dispatch(eventFor(kPMListSharesID, QString()), reply);
    EXPECT_EQ(reply.paramKeywords(), QList<AEKeyword> { keyDirectObject });
    EXPECT_TRUE(reply.paramDescriptorForKeyword(keyDirectObject)->isList());

    // A drive given anyway is not handed to the action, which is about no drive.
    AEDescriptor withDrive = AEDescriptor::replyEvent();
    table.dispatch(eventFor(kPMListSharesID, QStringLiteral("/media/x")), withDrive);
    EXPECT_EQ(withDrive.errorNumber(), kNoErr);
    EXPECT_EQ(paths, (QStringList { QString(), QString() }));
}
