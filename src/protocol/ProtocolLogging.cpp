#include "protocol/ProtocolLogging.h"

namespace protocol {
// Debug lines (every event and reply) only when asked for with QT_LOGGING_RULES.
Q_LOGGING_CATEGORY(lcProtocol, "pellmere.protocol", QtInfoMsg)
} // namespace protocol
