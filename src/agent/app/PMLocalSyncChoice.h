// What this user chose for a drive through this computer, kept in the agent's own
// preferences (never on the drive), and whether it allows a sync nobody asked for.
//
// A drive's configuration file is written by whoever held the drive last, so it cannot by
// itself make this computer copy anything: a sync on connect and a continuous sync happen
// only when this computer's record says the user turned participation on here, recorded the
// sync list here, and the drive's settings for this user agree with that record. Syncs the
// user starts by hand are not judged here; they record the drive's settings as chosen.
//
//   PMLocalSyncChoice choice(PMUserDefaults::sharedInstance());
//   choice.recordSyncList(uuid, paths);                       // the list set through this computer
//   if (choice.verdict(uuid, participates, continuous, list) == PMLocalSyncChoice::Verdict::Allowed) ...
//
// Any thread (PMUserDefaults is thread-safe).
#pragma once

#include <QString>
#include <QStringList>

class PMUserDefaults;

class PMLocalSyncChoice {
public:
    enum class Verdict {
        Allowed,
        // The drive has no identity under which a choice could be recorded.
        NoDeviceIdentity,
        // Participation was never turned on here (or was turned off here).
        NotChosenHere,
        // No list was ever recorded here (a drive set up before lists were recorded).
        NoRecordedList,
        ListDiffers,
        // Continuous sync is off here or on the drive.
        ContinuousDiffers
    };

    explicit PMLocalSyncChoice(PMUserDefaults &defaults);

    // driveParticipates, driveContinuous, driveList: what the drive's configuration says for
    // this user. A drive that itself says "no" needs no verdict; Allowed is only ever
    // answered when both say on.
    Verdict verdict(
        const QString &device, bool driveParticipates, bool driveContinuous, const QStringList &driveList) const;

    void recordParticipation(const QString &device, bool on);
    void recordContinuous(const QString &device, bool on);
    void recordSyncList(const QString &device, const QStringList &list);

    // Whether two lists name the same folders ("~" expanded, cleaned, order and repeats aside).
    static bool sameItems(const QStringList &left, const QStringList &right);
    static QString describe(Verdict verdict);

private:
    PMUserDefaults &m_defaults;
};
