// The console logging category of the control protocol ("pellmere.protocol").
#pragma once

#include <QLoggingCategory>

namespace protocol {
Q_DECLARE_LOGGING_CATEGORY(lcProtocol)
}
