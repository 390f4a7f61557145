// The agent's plain user defaults (the "debug" switch and future simple settings), stored in
// the user's preference folder and shared by every part of the agent.
//
//   if (PMStandardDefaults::sharedInstance().boolValue(PMStandardDefaults::kDebugKey)) ...
//
// The "debug" key is registered as NO, so it reads NO until the user turns it on. The file
// is re-read when it changes, so a change from another process takes effect at the next read.
#pragma once

#include "platform/PreferenceStore.h"

class PMStandardDefaults {
public:
    static inline const QString kDebugKey = QStringLiteral("debug");

    // Created on first use at the standard defaults path of the current environment.
    static platform::PreferenceStore &sharedInstance();
};
