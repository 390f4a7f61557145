// What the tray shows of the agent's activity, from the progress records the drives publish:
// idle, syncing (drive name and percentage), or the last failure (drive and reason). A
// failure stays until the next sync starts, so a user who was away still sees it.
//
//   PMTrayActivity activity;
//   activity.update(progress);             // a record as sent on the bus
//   icon.setToolTip(activity.toolTip());   // "Pellmere: syncing "Backup" (42%)"
//
// Any one thread.
#pragma once

#include <QString>
#include <QVariantMap>

class PMTrayActivity {
public:
    enum class State { Idle, Syncing, Failed };

    void update(const QVariantMap &progress);

    State state() const { return m_state; }
    QString driveName() const { return m_driveName; }
    // 0 to 100 while syncing: the bytes accounted for (copied, already there or filtered out)
    // out of the job's estimate.
    int percent() const { return m_percent; }
    QString toolTip() const;

    static QString failureText(int failureType);

private:
    State m_state = State::Idle;
    QString m_driveName;
    int m_percent = 0;
    int m_failureType = 0;
};
