// The copy engine's console category ("pellmere.copy").
#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcCopy)
