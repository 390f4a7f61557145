// The system console: routes Qt's logging (qCDebug/qCInfo/qCWarning per category) to
// syslog(3), which reaches the journal, and to standard error when that is a terminal.
//
// Call SystemLog::install() once at program start. Each component logs under its own
// category ("pellmere.sync", "pellmere.copy", ...), so QT_LOGGING_RULES can single one out.
#pragma once

#include <QString>

namespace platform {

class SystemLog {
public:
    // identity names the program in syslog ("pellmere", "pellmerectl").
    static void install(const QString &identity);
};

} // namespace platform
