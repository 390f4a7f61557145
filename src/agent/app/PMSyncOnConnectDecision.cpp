#include "agent/app/PMSyncOnConnectDecision.h"

PMSyncOnConnectDecision::Outcome PMSyncOnConnectDecision::decide(const Questions &questions)
{
    if (questions.busy())
        return Outcome::Busy;
    if (!questions.isValidDevice())
        return Outcome::NotValidDevice;
    if (!questions.isValidFileSystem())
        return Outcome::NotValidFileSystem;
    if (!questions.syncIsEnabledForThisDevice())
        return Outcome::UserNotParticipating;
    if (questions.updateContinuousSyncSettings)
        questions.updateContinuousSyncSettings();
    if (!questions.continuousSyncState())
        return Outcome::ContinuousOff;
    if (!questions.isParticipatingInSync())
        return Outcome::ParticipationOff;
    if (!questions.chosenOnThisComputer())
        return Outcome::NotChosenHere;
    return Outcome::StartSync;
}

QString PMSyncOnConnectDecision::describe(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Busy:
        return QStringLiteral("busy");
    case Outcome::NotValidDevice:
        return QStringLiteral("not a valid device");
    case Outcome::NotValidFileSystem:
        return QStringLiteral("file system not qualified");
    case Outcome::UserNotParticipating:
        return QStringLiteral("user not participating");
    case Outcome::ContinuousOff:
        return QStringLiteral("continuous sync off");
    case Outcome::ParticipationOff:
        return QStringLiteral("participation off");
    case Outcome::NotChosenHere:
        return QStringLiteral("not chosen on this computer");
    case Outcome::StartSync:
        return QStringLiteral("sync");
    }
    return {};
}
