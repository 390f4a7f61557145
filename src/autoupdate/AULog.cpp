#include "autoupdate/AULog.h"

Q_LOGGING_CATEGORY(lcAutoUpdate, "corvane.autoupdate")
