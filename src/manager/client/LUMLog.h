// The manager's logging category ("pellmere.manager") and its debug line form
// "D - <class>(<operation>) - <text>". The manager's main installs a message handler that
// writes this category to its debug log file; without one the lines go to the console.
//
//   LUMLog::debug("LUMPellmereInterface", QStringLiteral("syncSet"), QStringLiteral("syncSet: ..."));
//
// Any thread.
#pragma once

#include <QLoggingCategory>
#include <QString>

Q_DECLARE_LOGGING_CATEGORY(lcManager)

namespace LUMLog {

// "D - className(operation) - text" at debug level in lcManager.
void debug(const char *className, const QString &operation, const QString &text);

} // namespace LUMLog
