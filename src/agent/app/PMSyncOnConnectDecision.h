// Whether a drive that just appeared syncs by itself: only a drive that is not busy, is a
// valid device with a qualified file system, whose user takes part, with continuous sync on
// and participation on, and whose settings this user chose on this computer (the drive's
// word alone is not enough: anyone can write it). The questions are asked in that order and stop at the first "no",
// for some of them act (asking whether sync is enabled registers a brand-new drive).
//
//   const auto outcome = PMSyncOnConnectDecision::decide({ [&] { return c.busy(); }, ... });
//
// Pure; any thread.
#pragma once

#include <QString>

#include <functional>

class PMSyncOnConnectDecision {
public:
    enum class Outcome {
        Busy,
        NotValidDevice,
        NotValidFileSystem,
        UserNotParticipating,
        ContinuousOff,
        ParticipationOff,
        NotChosenHere,
        StartSync
    };

    struct Questions {
        std::function<bool()> busy;
        std::function<bool()> isValidDevice;
        std::function<bool()> isValidFileSystem;
        std::function<bool()> syncIsEnabledForThisDevice;
        // Run once the user is known to take part, before continuous sync is asked about.
        std::function<void()> updateContinuousSyncSettings;
        std::function<bool()> continuousSyncState;
        std::function<bool()> isParticipatingInSync;
        // This computer's own record agrees with the drive (PMLocalSyncChoice).
        std::function<bool()> chosenOnThisComputer;
    };

    static Outcome decide(const Questions &questions);
    static QString describe(Outcome outcome);
};
