#include "agent/media/PMMediaLog.h"

// Debug output (FFmpeg's own diagnostics among it) only when asked for.
Q_LOGGING_CATEGORY(lcMedia, "pellmere.media", QtInfoMsg)
