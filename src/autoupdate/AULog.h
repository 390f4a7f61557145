// The library's logging category ("corvane.autoupdate").
#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcAutoUpdate)
