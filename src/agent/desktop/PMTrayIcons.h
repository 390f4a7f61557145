// The tray icon's pictures, drawn rather than taken from a theme so that every desktop shows
// the same states: a grey disc when idle, a blue ring filled to the percentage while syncing,
// a red disc with a bar after a failure.
#pragma once

#include "agent/desktop/PMTrayActivity.h"

#include <QIcon>

class PMTrayIcons {
public:
    static QIcon icon(PMTrayActivity::State state, int percent);
};
