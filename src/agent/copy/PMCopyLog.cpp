#include "agent/copy/PMCopyLog.h"

Q_LOGGING_CATEGORY(lcCopy, "pellmere.copy")
