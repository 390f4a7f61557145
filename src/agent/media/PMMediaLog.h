// The console category of the media filter ("pellmere.media"): characterization failures,
// unknown codec types and FFmpeg's own diagnostics go there.
#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcMedia)
